// The errors of byte streams, shared by every module that reads or writes a binary layout.
#pragma once

#include "common/Objects.h"

namespace varnix {

// A stream ended before the data it was expected to hold ("Stream read error").
VARNIX_DECLARE_EXCEPTION(EReadError, Exception);
// A stream refused data written to it ("Stream write error").
VARNIX_DECLARE_EXCEPTION(EWriteError, Exception);

}  // namespace varnix
