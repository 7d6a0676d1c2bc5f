// Applying one embedded patch to every installed product that it targets and accepts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "inspection/installer.h"
#include "inspection/target_product.h"
#include "messages/message_box.h"
#include "payload/extract.h"
#include "platform/system.h"

namespace updater {

enum class PayloadOutcome {
  Failed = 1,       // nothing patched and the reason was shown
  Applied = 2,      // at least one product patched
  Unnecessary = 3,  // every target up to date, or the payload is not carried at all
};

inline constexpr uint32_t kLocaleUserDefault = 1024;
inline constexpr size_t kCommandLineCapacity = 1024;

class PayloadApplier {
 public:
  PayloadApplier(System& system, Installer& installer, PayloadStore& store, MessageBoxes& messages)
      : system_(system), installer_(installer), store_(store), messages_(messages) {}

  // Writes the payload resourceName to a temporary file, reads the versions and target product
  // codes from it, keeps the installed targets in the applicable product list and patches each
  // whose installed version is one of the target versions, with a verbose log per product in the
  // work folder. Products at the upgrade version count as up to date; other versions are shown as
  // 308. Failures are shown as failureMessageId with their error code, and the pass goes on with
  // the next product. With isGlobal each product's name becomes the message product name. The
  // thread locale follows each product's language, and returns to the user default when every
  // product was up to date. The temporary file is deleted on every way out.
  PayloadOutcome ApplyPayload(const std::wstring& resourceName, uint32_t failureMessageId,
                              bool isGlobal);

  const std::vector<TargetProductRecord>& applicableProducts() const { return applicableProducts_; }
  void EmptyApplicableProducts() { applicableProducts_.clear(); }

 private:
  enum class Decision { kUpToDate, kPatch, kNotCovered };
  Decision Decide(const TargetProductRecord& record) const;
  bool PatchProduct(TargetProductRecord& record, const std::wstring& payloadPath,
                    const std::wstring& workFolder, uint32_t failureMessageId);
  void CollectInstalledTargets(TargetProductRecord& templateRecord);

  System& system_;
  Installer& installer_;
  PayloadStore& store_;
  MessageBoxes& messages_;
  std::vector<TargetProductRecord> applicableProducts_;
};

// The log file of one product: "<workFolder>\<productName> SP1.log". Characters that cannot stand
// in a file name (a separator among them) become "_", so that a product name never steers the log
// elsewhere; a name too long for the 260-character path is shortened so that " SP1.log" stays.
// Empty when not even the work folder and the fixed part fit.
std::wstring BuildLogPath(const std::wstring& workFolder, const std::wstring& productName);

}  // namespace updater
