// Layer: platform
#include "platform/secured_folder.h"

namespace vorlund {

DWORD createSecuredFolder(const Path&, const char16_t*, Path&) {
  return ERROR_NOT_SUPPORTED;
}

DWORD createSecuredFile(const Path&, const char16_t*, bool& created) {
  created = false;
  return ERROR_NOT_SUPPORTED;
}

DWORD readSecurityDescriptor(const Path&, std::u16string&) {
  return ERROR_NOT_SUPPORTED;
}

}  // namespace vorlund
