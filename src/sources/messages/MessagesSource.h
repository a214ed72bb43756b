// The messages source's descriptor (sources/Source.h).
#pragma once

#include "sources/Source.h"

namespace vantrel {

Source MessagesSource();

}  // namespace vantrel
