#include "inspection/target_product.h"

#include <algorithm>
#include <vector>

namespace updater {
namespace {

// One product property through the 1024-character buffer; a failed query yields no text, whatever
// an earlier call left in the buffer.
std::wstring QueryProductProperty(Installer& installer, const std::wstring& productCode,
                                  const wchar_t* property, std::vector<wchar_t>& buffer,
                                  const ProductRegistration* registration = nullptr) {
  buffer.assign(kProductQueryCapacity, L'\0');
  uint32_t length = kProductQueryCapacity;
  const uint32_t result =
      registration == nullptr
          ? installer.GetProductInfo(productCode, property, buffer.data(), length)
          : installer.GetProductInfoEx(productCode, registration->userSid, registration->context,
                                       property, buffer.data(), length);
  if (result != 0) return {};
  const size_t end = std::min<size_t>(length, kProductQueryCapacity - 1);
  return std::wstring(buffer.data(), std::find(buffer.data(), buffer.data() + end, L'\0'));
}

}  // namespace

bool SameCode(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - L'a' + L'A');
    if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - L'a' + L'A');
    if (x != y) return false;
  }
  return true;
}

const ProductRegistration* FindUnmanagedRegistration(
    const std::vector<ProductRegistration>& registrations, const std::wstring& code) {
  for (const ProductRegistration& registration : registrations) {
    if (registration.context == kInstallContextUserUnmanaged &&
        SameCode(registration.productCode, code)) {
      return &registration;
    }
  }
  return nullptr;
}

Outcome<std::vector<ProductRegistration>> ListRegistrations(Installer& installer) {
  std::vector<ProductRegistration> registrations;
  for (uint32_t index = 0; index < kMaxRegistrations; ++index) {
    ProductRegistration registration;
    const uint32_t result =
        installer.EnumProductsEx(kEveryUserSid, kInstallContextAll, index, registration.productCode,
                                 registration.context, registration.userSid);
    if (result == kErrorNoMoreItems) break;
    if (result != 0) return Failure{result};
    registrations.push_back(registration);
  }
  return registrations;
}

bool IsProductInstalled(Installer& installer, const std::wstring& productCode) {
  const int32_t state = installer.QueryProductState(productCode);
  return state == kInstallStateAdvertised || state == kInstallStateDefault;
}

void QueryProductNameAndLanguage(Installer& installer, const std::wstring& productCode,
                                 std::wstring& productName, std::wstring& language) {
  std::vector<wchar_t> buffer;
  productName = QueryProductProperty(installer, productCode, L"ProductName", buffer);
  language = QueryProductProperty(installer, productCode, L"Language", buffer);
}

std::wstring QueryInstalledVersion(Installer& installer, const std::wstring& productCode) {
  std::vector<wchar_t> buffer;
  return QueryProductProperty(installer, productCode, L"VersionString", buffer);
}

std::vector<DetectedTarget> DetectTargets(Installer& installer,
                                          const std::vector<std::wstring>& codes) {
  std::vector<DetectedTarget> detected;
  for (const std::wstring& code : codes) {
    DetectedTarget target;
    target.product.productCode = code;
    target.installed = IsProductInstalled(installer, code);
    if (target.installed) {
      target.product.installedVersion = QueryInstalledVersion(installer, code);
      QueryProductNameAndLanguage(installer, code, target.product.productName,
                                  target.product.language);
    }
    detected.push_back(std::move(target));
  }
  return detected;
}

ElevatedDetection DetectElevatedTargets(Installer& installer,
                                        const std::vector<std::wstring>& codes) {
  ElevatedDetection detection;
  const Outcome<std::vector<ProductRegistration>> listed = ListRegistrations(installer);
  detection.targets.resize(codes.size());
  for (size_t i = 0; i < codes.size(); ++i) detection.targets[i].product.productCode = codes[i];
  if (!listed) {
    detection.error = listed.error();
    return detection;
  }
  for (DetectedTarget& target : detection.targets) {
    const std::wstring& code = target.product.productCode;
    const ProductRegistration* chosen = nullptr;
    const ProductRegistration* unmanaged = FindUnmanagedRegistration(*listed, code);
    for (const ProductRegistration& registration : *listed) {
      if (!SameCode(registration.productCode, code)) continue;
      if (registration.context == kInstallContextMachine ||
          registration.context == kInstallContextUserManaged) {
        // The machine-wide one before a managed per-user one.
        if (chosen == nullptr || registration.context == kInstallContextMachine) {
          chosen = &registration;
        }
      }
    }
    if (unmanaged != nullptr) {
      detection.refused.push_back(*unmanaged);
      continue;
    }
    if (chosen == nullptr) continue;
    target.installed = true;
    TargetProductRecord& record = target.product;
    record.context = chosen->context;
    record.userSid = chosen->context == kInstallContextMachine ? L"" : chosen->userSid;
    ProductRegistration asked = *chosen;
    asked.userSid = record.userSid;
    // Read under the code as the service spells it.
    const std::wstring& spelled = chosen->productCode;
    std::vector<wchar_t> buffer;
    record.installedVersion =
        QueryProductProperty(installer, spelled, L"VersionString", buffer, &asked);
    record.productName = QueryProductProperty(installer, spelled, L"ProductName", buffer, &asked);
    record.language = QueryProductProperty(installer, spelled, L"Language", buffer, &asked);
  }
  return detection;
}

}  // namespace updater
