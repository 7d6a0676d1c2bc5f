#include "inspection/target_product.h"

#include <algorithm>
#include <vector>

namespace updater {
namespace {

// One product property through the 1024-character buffer; a failed query yields no text, whatever
// an earlier call left in the buffer.
std::wstring QueryProductProperty(Installer& installer, const std::wstring& productCode,
                                  const wchar_t* property, std::vector<wchar_t>& buffer) {
  buffer.assign(kProductQueryCapacity, L'\0');
  uint32_t length = kProductQueryCapacity;
  if (installer.GetProductInfo(productCode, property, buffer.data(), length) != 0) return {};
  const size_t end = std::min<size_t>(length, kProductQueryCapacity - 1);
  return std::wstring(buffer.data(), std::find(buffer.data(), buffer.data() + end, L'\0'));
}

}  // namespace

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

}  // namespace updater
