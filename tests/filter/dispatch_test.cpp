// The filter base's dispatch, ClsTempogate's pass-through handlers, and Minutrix.dll as the web
// server loads it.
#include <cstring>
#include <filesystem>
#include <sstream>

#include "filter/http_filter_base.h"
#include "filter/tempogate.h"
#include "hosts/isapi/filter_host.h"
#include "tests/filter/filter_fixture.h"

namespace {

using filter_test::FilterTest;

// Records which handler the dispatch reached.
class Recorder : public HttpFilterBase {
 public:
  DWORD OnReadRawData(HTTP_FILTER_CONTEXT*, HTTP_FILTER_RAW_DATA*) override {
    return Hit(SF_NOTIFY_READ_RAW_DATA);
  }
  DWORD OnPreprocHeaders(HTTP_FILTER_CONTEXT*, HTTP_FILTER_PREPROC_HEADERS*) override {
    return Hit(SF_NOTIFY_PREPROC_HEADERS);
  }
  DWORD OnAuthentication(HTTP_FILTER_CONTEXT*, HTTP_FILTER_AUTHENT*) override {
    return Hit(SF_NOTIFY_AUTHENTICATION);
  }
  DWORD OnUrlMap(HTTP_FILTER_CONTEXT*, HTTP_FILTER_URL_MAP*) override {
    return Hit(SF_NOTIFY_URL_MAP);
  }
  DWORD OnSendRawData(HTTP_FILTER_CONTEXT*, HTTP_FILTER_RAW_DATA*) override {
    return Hit(SF_NOTIFY_SEND_RAW_DATA);
  }
  DWORD OnLog(HTTP_FILTER_CONTEXT*, HTTP_FILTER_LOG*) override { return Hit(SF_NOTIFY_LOG); }
  DWORD OnEndOfNetSession(HTTP_FILTER_CONTEXT*) override {
    return Hit(SF_NOTIFY_END_OF_NET_SESSION);
  }
  DWORD OnEndOfRequest(HTTP_FILTER_CONTEXT*) override { return Hit(SF_NOTIFY_END_OF_REQUEST); }
  DWORD last = 0;

 private:
  DWORD Hit(DWORD type) {
    last = type;
    return type;  // a distinct answer per handler proves the result is passed back
  }
};

TEST(Dispatch, EachNotificationReachesItsHandler) {
  Recorder filter;
  HTTP_FILTER_CONTEXT context{};
  for (DWORD type : {SF_NOTIFY_READ_RAW_DATA, SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTHENTICATION,
                     SF_NOTIFY_URL_MAP, SF_NOTIFY_SEND_RAW_DATA, SF_NOTIFY_LOG,
                     SF_NOTIFY_END_OF_NET_SESSION, SF_NOTIFY_END_OF_REQUEST}) {
    filter.last = 0;
    EXPECT_EQ(filter.HttpFilterProc(&context, type, nullptr), type);
    EXPECT_EQ(filter.last, type);
  }
  filter.last = 0;
  for (DWORD unknown : {0u, SF_NOTIFY_ACCESS_DENIED, SF_NOTIFY_SECURE_PORT, 0xffffffffu}) {
    EXPECT_EQ(filter.HttpFilterProc(&context, unknown, nullptr),
              static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  }
  EXPECT_EQ(filter.last, 0u);
}

TEST(Dispatch, BaseVersionRecordAndRegistration) {
  {
    HttpFilterBase base;
    EXPECT_EQ(RegisteredFilter(), &base);
    HTTP_FILTER_VERSION version;
    std::memset(&version, 0xbd, sizeof version);
    EXPECT_EQ(base.GetFilterVersion(&version), TRUE);
    EXPECT_EQ(version.lpszFilterDesc[0], '\0');
    EXPECT_EQ(version.dwFlags, SF_NOTIFY_ORDER_DEFAULT);
    EXPECT_EQ(version.dwFilterVersion, 0x00040000u);
    HTTP_FILTER_CONTEXT context{};
    EXPECT_EQ(base.HttpFilterProc(&context, SF_NOTIFY_LOG, nullptr),
              static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  }
  EXPECT_EQ(RegisteredFilter(), nullptr);
}

TEST_F(FilterTest, AuthenticationAndEndOfNetSessionPassAndLogNothing) {
  SetDebug("1");
  ClsTempogate filter;
  HTTP_FILTER_CONTEXT context{};
  HTTP_FILTER_AUTHENT authent{};
  EXPECT_EQ(filter.HttpFilterProc(&context, SF_NOTIFY_AUTHENTICATION, &authent),
            static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_EQ(filter.HttpFilterProc(&context, SF_NOTIFY_END_OF_NET_SESSION, nullptr),
            static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
  filter.SetHasTime(0x1ff);
  EXPECT_EQ(filter.GetHasTime(), 0xff);
}

TEST(FilterLibrary, ExportsOnlyItsTwoEntryPoints) {
  const auto result = test_support::Run(
      {"/usr/bin/nm", "-D", "--defined-only", (test_support::kBuildDir / "Minutrix.dll").string()});
  ASSERT_EQ(result.exit_code, 0) << result.output;
  std::vector<std::string> symbols;
  std::istringstream in(result.output);
  std::string address, kind, name;
  while (in >> address >> kind >> name) symbols.push_back(name);
  EXPECT_EQ(symbols, (std::vector<std::string>{"GetFilterVersion", "HttpFilterProc"}));
}

TEST(FilterLibrary, LoadsInTheHostAndAnswersANotification) {
  test_support::ScratchMachine machine;
  std::string error;
  auto filter =
      isapi_host::LoadedFilter::Load((test_support::kBuildDir / "Minutrix.dll").string(), error);
  ASSERT_NE(filter, nullptr) << error;
  filter->CallGetFilterVersion();
  EXPECT_EQ(filter->version().dwFilterVersion, HTTP_FILTER_REVISION);
  auto request = isapi_host::MakeRequest("DOMAIN\\alice", "http://www.example.com/", "127.0.0.1");
  HTTP_FILTER_LOG log{};
  const DWORD status = filter->Notify(request, SF_NOTIFY_LOG, &log);
  EXPECT_EQ(status, static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  EXPECT_EQ(filter->Notify(request, 0x12345678, nullptr),
            static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
}

}  // namespace
