#pragma once
// The container that the ELDATA test program carries as its resource. A native program writes it
// at build time from these values with the same code the build tool uses; the test reads the
// resource back and compares with the same values.

#include <cstdint>
#include <vector>

#include "crashlog/infra/options/eldata.h"
#include "crashlog/infra/options/option_stream.h"

namespace pelloran::crashlog::testing {

inline TCrashOptionValues FixtureOptions() {
  TCrashOptionValues v;
  v.ShowDialog = false;
  v.AttachScreenshot = true;
  v.FreezeDetection = true;
  v.FreezeTimeout = 17;
  v.SmtpHost = "fixture.example.com";
  v.SmtpPort = 2525;
  v.SendMode = kSendSmtpDirect;
  v.MailAddresses = "support@pelloran.example.com";
  v.MailSubject = "\xB1\xC0\xC0\xA3";  // GBK text
  v.ReportFields = 0x007FFFFF;
  v.FilterClasses = {"EAbort", "EConvertError"};
  v.FilterMessages = {"", "Bad number."};
  v.Texts[16] = "&Mail it";
  v.SaveMiniDump = true;  // from the added block, after the debug information
  return v;
}

inline std::vector<std::uint8_t> FixtureDebugInfo() {
  std::vector<std::uint8_t> bytes(3000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

inline constexpr TBuildTime kFixtureBuildTime{1, 2, 3, 4, 5, 6, 7, 8};

inline std::vector<std::uint8_t> FixtureContainer() {
  return WriteEldataContainer(kCurrentDataVersion, kFixtureBuildTime,
                              BuildEldataBody(FixtureOptions(), FixtureDebugInfo()));
}

}  // namespace pelloran::crashlog::testing
