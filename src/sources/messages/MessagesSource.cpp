#include "sources/messages/MessagesSource.h"

#include "sources/messages/Attachments.h"
#include "sources/messages/EditHistory.h"
#include "sqlite/ColumnNames.h"

namespace vantrel {
namespace {

LoaderStatus LoadMessages(const SqliteFile& db, Collections& into) {
  const LoaderStatus status =
      MessageLoader(db, into.liveMessages, into.deletedMessages, &into.messageTraces);
  // Only a table that keeps edit histories gives records one to read: the
  // walk over every record is spared the others.
  const TableInfo* message = FindTable(db, "message");
  if (message != nullptr && ColumnPosition(message->columns, "message_summary_info") != kNoColumn)
    ReadEditHistories(into.liveMessages, into.deletedMessages);
  return status;
}

}  // namespace

Source MessagesSource() {
  return {.kind = RecordKind::Messages,
          .word = "messages",
          .fileStem = "SMS",
          .backupFiles = {{"HomeDomain", "Library/SMS/sms.db"}},
          .load = LoadMessages,
          .nodes = {{Category::DeletedMessages, false}, {Category::LiveMessages, false}},
          .ownThread = false,
          // Attachments are files of the backup beside the message database.
          .findFilesInBackup = LocateAttachments};
}

}  // namespace vantrel
