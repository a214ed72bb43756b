// The registry: every source the load reads, in load and tree order. A new
// source is its folder and one line here.
#include <stdexcept>

#include "sources/Source.h"
#include "sources/calls/CallsSource.h"
#include "sources/contacts/ContactsSource.h"
#include "sources/messages/MessagesSource.h"

namespace vantrel {

const std::vector<Source>& Sources() {
  static const std::vector<Source> sources = {
      MessagesSource(),
      ContactsSource(),
      CallsSource(),
  };
  return sources;
}

const Source& SourceOf(RecordKind kind) {
  for (const Source& source : Sources())
    if (source.kind == kind) return source;
  throw std::logic_error("no source for a record kind");
}

}  // namespace vantrel
