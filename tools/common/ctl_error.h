// How vorlund-ctl fails: a ToolError, whose exit code comes from the tools' one table.
#pragma once

#include "common/tool_main.h"

namespace vorlund {

using CtlError = ToolError;

}  // namespace vorlund
