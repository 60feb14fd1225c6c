#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RizUdidadIzezozure/ZIAnalytics.h"
#include "ZurIrirur/AppSecret.h"
#include "ZurIrirur/ZIZurIrirur.h"

namespace quenbril {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

std::vector<std::string>& startedNames() {
    static std::vector<std::string> names;
    return names;
}

const ZIService firstService{"FirstService", [] { startedNames().push_back("FirstService"); }};
const ZIService secondService{"SecondService", [] { startedNames().push_back("SecondService"); }};

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ZIZurIrirurTest : public testing::Test {
  protected:
    void SetUp() override { startedNames().clear(); }
    void TearDown() override { ZIZurIrirur::resetSharedInstance(); }

    ZIZurIrirur sdk_;
};

TEST_F(ZIZurIrirurTest, StartsEachServiceOnceInTheGivenOrder) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(sdk_.startWithServices(kZurIrirurAppSecret,
                                       {&secondService, &ZIAnalytics::kService, &firstService}));
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_THAT(startedNames(), ElementsAre("SecondService", "FirstService"));
    EXPECT_THAT(sdk_.startedServices(),
                ElementsAre(&secondService, &ZIAnalytics::kService, &firstService));
    EXPECT_EQ(countOf(log, "\n"), 1) << log;
    EXPECT_THAT(log,
                HasSubstr("[ZurIrirur] Started with SecondService, ZIAnalytics, FirstService"));
    // The secret is the application's own, not the log's.
    EXPECT_THAT(log, testing::Not(HasSubstr(kZurIrirurAppSecret)));
}

TEST_F(ZIZurIrirurTest, ASecondStartDoesNothing) {
    ASSERT_TRUE(sdk_.startWithServices(kZurIrirurAppSecret, {&firstService}));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(sdk_.startWithServices(kZurIrirurAppSecret, {&secondService, &firstService}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EXPECT_THAT(startedNames(), ElementsAre("FirstService"));
    EXPECT_THAT(sdk_.startedServices(), ElementsAre(&firstService));
}

TEST_F(ZIZurIrirurTest, TheClassStartUsesTheSharedInstanceOncePerProcess) {
    testing::internal::CaptureStderr();
    ZIZurIrirur::start(kZurIrirurAppSecret, {&ZIAnalytics::kService, &firstService});
    ZIZurIrirur::start(kZurIrirurAppSecret, {&ZIAnalytics::kService, &firstService});
    std::string log = testing::internal::GetCapturedStderr();

    EXPECT_TRUE(ZIZurIrirur::sharedInstance().isStarted());
    EXPECT_THAT(startedNames(), ElementsAre("FirstService"));
    EXPECT_EQ(countOf(log, "[ZurIrirur]"), 1) << log;
}

TEST_F(ZIZurIrirurTest, ListedTwiceOrNullStartsOnce) {
    EXPECT_TRUE(
        sdk_.startWithServices(kZurIrirurAppSecret, {&firstService, nullptr, &firstService}));
    EXPECT_THAT(startedNames(), ElementsAre("FirstService"));
    EXPECT_THAT(sdk_.startedServices(), ElementsAre(&firstService));
}

TEST_F(ZIZurIrirurTest, AMalformedSecretStartsNothingAndALaterGoodOneStarts) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(sdk_.startWithServices("not-a-secret", {&firstService}));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("telemetry not started"));
    EXPECT_FALSE(sdk_.isStarted());
    EXPECT_THAT(startedNames(), IsEmpty());

    EXPECT_TRUE(sdk_.startWithServices(kZurIrirurAppSecret, {&firstService}));
    EXPECT_THAT(startedNames(), ElementsAre("FirstService"));
}

TEST(ZIZurIrirurSecret, AcceptsOnlyHexadecimalGroupsOfEightFourFourFourTwelve) {
    EXPECT_TRUE(ZIZurIrirur::isValidAppSecret(kZurIrirurAppSecret));
    EXPECT_TRUE(ZIZurIrirur::isValidAppSecret("ABCDEF01-2345-6789-abcd-ef0123456789"));
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret(""));
    // One digit short, one too many.
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret("c8cc7f97-21ec-4d0c-bfe5-72281aa1053"));
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret("c8cc7f97-21ec-4d0c-bfe5-72281aa105388"));
    // A hyphen one place off, a hyphen in place of a digit, a letter past f.
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret("c8cc7f9-721ec-4d0c-bfe5-72281aa10538"));
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret("c8cc7f97-21ec-4d0c-bfe5-72281aa1053-"));
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret("c8cc7f97-21ec-4d0c-bfe5-72281aa1053g"));
    // No braces or other wrapping.
    EXPECT_FALSE(ZIZurIrirur::isValidAppSecret("{8cc7f97-21ec-4d0c-bfe5-72281aa10538}"));
}

}  // namespace
}  // namespace quenbril
