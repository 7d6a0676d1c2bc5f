// The registrations looked at again right before each installer call of an elevated run. The call
// (MsiConfigureProductExW) takes no installation context: it patches the registration the
// installer service finds for the code, and an unmanaged per-user one, which any user can make
// without rights, comes before the machine-wide one. Detection refuses such a code, but the wait
// for a busy installer and the retries after 1618 come later, so a registration made meanwhile is
// looked for again at every call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "inspection/target_product.h"
#include "platform/installer.h"

namespace updater {

// What the look right before a call found: an unmanaged per-user registration of the code, or
// the enumeration's error (no registration can then be ruled out); neither when the call may go.
struct CallRegistrations {
  std::optional<ProductRegistration> refused;
  uint32_t error = 0;

  // The product is then held back as one refused at detection: it counts as not installed.
  bool HoldsBack() const { return refused.has_value() || error != 0; }
};

// Lists every registration of every user (ListRegistrations) and looks for an unmanaged per-user
// one of productCode.
CallRegistrations CheckRegistrationsBeforeCall(Installer& installer,
                                               const std::wstring& productCode);

}  // namespace updater
