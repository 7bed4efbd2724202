// A small ISAPI host: it loads the probe extension as a web server does, hands it a request whose
// body is the report, and records what the extension sends back through the control block's
// server-support and write-client functions.

#include "runtime/scoped_handle.h"
#include "tests/crashlog/infra/diagnostics/child_process.h"
#include "tests/crashlog/infra/web/web_probe_text.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <httpext.h>

#include <string>
#include <vector>

namespace pelloran::testing {
namespace {

// The header of the probe page: no "Status:" line, the status travels in the control block.
std::string IsapiHeader() {
  return "Content-Type: text/html\r\nContent-Length: " + std::to_string(kProbePage.size()) + "\r\nContent:\r\n\r\n";
}

// One connection of the host: what the extension sent over it.
struct TConnection {
  std::vector<DWORD> Requests;  // server-support requests, with the status and header they carried
  std::vector<std::string> Statuses, Headers, Writes;
  bool FailWrites = false;
};

BOOL WINAPI ServerSupportFunction(HCONN connection, DWORD request, LPVOID status, LPDWORD size, LPDWORD header) {
  auto& target = *static_cast<TConnection*>(connection);
  target.Requests.push_back(request);
  target.Statuses.emplace_back(static_cast<const char*>(status), *size);
  target.Headers.emplace_back(reinterpret_cast<const char*>(header));
  return TRUE;
}

BOOL WINAPI WriteClient(HCONN connection, LPVOID buffer, LPDWORD bytes, DWORD reserved) {
  auto& target = *static_cast<TConnection*>(connection);
  if (target.FailWrites || reserved != 0) return FALSE;
  target.Writes.emplace_back(static_cast<const char*>(buffer), *bytes);
  return TRUE;
}

class IsapiHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    extension_.reset(LoadLibraryA(SiblingProgram("crashlog_web_isapi_extension.dll").c_str()));
  }
  static void TearDownTestSuite() { extension_.reset(); }

  template <typename Proc>
  static Proc Export(const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(extension_.get(), name)));
  }

  // Runs one request with the probe report as its body; returns the extension's status.
  DWORD Serve(TConnection& connection, const char* query) {
    std::string body(kProbeReport);
    block_ = {};
    block_.cbSize = sizeof block_;
    block_.dwVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
    block_.ConnID = &connection;
    block_.dwHttpStatusCode = 200;
    block_.lpszMethod = const_cast<char*>("POST");
    block_.lpszQueryString = const_cast<char*>(query);
    block_.cbTotalBytes = block_.cbAvailable = static_cast<DWORD>(body.size());
    block_.lpbData = reinterpret_cast<BYTE*>(body.data());
    block_.ServerSupportFunction = &ServerSupportFunction;
    block_.WriteClient = &WriteClient;
    const auto proc = Export<DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*)>("HttpExtensionProc");
    if (proc == nullptr) return ~0u;
    return proc(&block_);
  }

  static std::string LastWarning() { return Export<const char* (*)()>("WebProbeLastWarning")(); }

  // The one response a request must have produced: status 500 in the block, a response-header
  // request with the status and a header without "Status:", then the page.
  void ExpectErrorPage(const TConnection& connection) {
    EXPECT_EQ(block_.dwHttpStatusCode, 500u);
    EXPECT_EQ(connection.Requests, std::vector<DWORD>{HSE_REQ_SEND_RESPONSE_HEADER});
    EXPECT_EQ(connection.Statuses, std::vector<std::string>{"500 Error"});
    EXPECT_EQ(connection.Headers, std::vector<std::string>{IsapiHeader()});
    EXPECT_EQ(connection.Writes, std::vector<std::string>{std::string(kProbePage)});
  }

  static inline ScopedModule extension_;
  EXTENSION_CONTROL_BLOCK block_{};
};

TEST_F(IsapiHostTest, ExtensionSendsStatusHeaderAndPageThroughTheServer) {
  ASSERT_TRUE(extension_) << "crashlog_web_isapi_extension.dll not loaded";
  HSE_VERSION_INFO version{};
  const auto getVersion = Export<BOOL(WINAPI*)(HSE_VERSION_INFO*)>("GetExtensionVersion");
  ASSERT_NE(getVersion, nullptr);
  EXPECT_TRUE(getVersion(&version)) << "the extension does not see itself as an ISAPI web application";

  TConnection connection;
  EXPECT_EQ(Serve(connection, ""), static_cast<DWORD>(HSE_STATUS_SUCCESS)) << LastWarning();
  ExpectErrorPage(connection);

  // Once the request has ended, its control block belongs to the server again.
  EXPECT_FALSE(Export<BOOL (*)()>("WebProbeWriteAfterRequest")());
  EXPECT_EQ(connection.Requests.size(), 1u);
  EXPECT_EQ(connection.Writes.size(), 1u);
}

TEST_F(IsapiHostTest, PageGoesOnlyToTheRequestOfTheFailingThread) {
  ASSERT_TRUE(extension_);
  TConnection connection;
  EXPECT_EQ(Serve(connection, "worker"), static_cast<DWORD>(HSE_STATUS_SUCCESS));
  ExpectErrorPage(connection);
  EXPECT_EQ(LastWarning(), "ISAPI: ServerECB = nil");
}

TEST_F(IsapiHostTest, RefusedWriteIsReportedAsFailure) {
  ASSERT_TRUE(extension_);
  TConnection connection;
  connection.FailWrites = true;
  EXPECT_EQ(Serve(connection, ""), static_cast<DWORD>(HSE_STATUS_ERROR));
  EXPECT_EQ(LastWarning(), "ISAPI: Cannot send the error page.");
  EXPECT_TRUE(connection.Writes.empty());
}

}  // namespace
}  // namespace pelloran::testing
