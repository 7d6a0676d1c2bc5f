#include "apply/registration_check.h"

namespace updater {

CallRegistrations CheckRegistrationsBeforeCall(Installer& installer,
                                               const std::wstring& productCode) {
  CallRegistrations found;
  const Outcome<std::vector<ProductRegistration>> listed = ListRegistrations(installer);
  if (!listed) {
    found.error = listed.error();
    return found;
  }
  if (const ProductRegistration* unmanaged = FindUnmanagedRegistration(*listed, productCode)) {
    found.refused = *unmanaged;
  }
  return found;
}

}  // namespace updater
