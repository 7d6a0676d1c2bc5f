// Both fakes of the platform, wired together: the installer reads the packages that the code under
// test writes into the fake file system. The English catalogue is loaded.
#pragma once

#include <string>

#include "messages/catalogue.h"
#include "messages/message_box.h"
#include "tests/fakes/fake_installer.h"
#include "tests/fakes/fake_system.h"
#include "tests/fakes/string_tables.h"

namespace updater::testing {

class FakePlatform {
 public:
  FakePlatform() {
    LoadStringTable(system, 1033);
    installer.readFile = [this](const std::wstring& path) { return system.ReadFile(path); };
  }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Carries the payload resource whose package has these summary properties (absent when empty).
  void CarryPayload(const std::wstring& resource, std::optional<std::wstring> codes,
                    std::optional<std::wstring> versions) {
    const std::string content = "MSP " + std::string(resource.begin(), resource.end());
    system.AddPayload(resource, content);
    installer.AddPackageContent(content, std::move(codes), std::move(versions));
  }

  // The text of catalogue message id as the box shows it, from the loaded tables.
  std::wstring MessageText(uint32_t id, const std::wstring& insert = L"",
                           uint32_t language = 1033) {
    std::wstring format;
    LoadText(system, id, language, format, kCatalogueLookupCapacity);
    return ComposeMessage(format, insert, format.size() + kMessageInsertRoom - 1);
  }

  std::vector<std::wstring> BoxTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& box : system.boxes()) texts.push_back(box.text);
    return texts;
  }
  std::vector<std::wstring> ConfiguredCodes() const {
    std::vector<std::wstring> codes;
    for (const auto& configuration : installer.configurations()) {
      codes.push_back(configuration.productCode);
    }
    return codes;
  }

  FakeSystem system;
  FakeInstaller installer;
};

}  // namespace updater::testing
