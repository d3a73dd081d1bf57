#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "NLS.h"
#include "RasDescriptor.h"
#include "ResourceBundle.h"
#include "TempDir.h"

namespace {

// Points the product root at a temporary directory holding the given catalogue while
// `body` first loads it; bundle names must be unique per test because the cache is global.
class CatalogueFixture : public ::testing::Test
{
protected:
    void install(const std::string& base, const std::string& suffix, const std::string& text)
    {
        std::string dir = products.path() + "/lib/messages";
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        ASSERT_FALSE(error) << error.message();
        products.write("lib/messages/" + base + suffix, text);
    }
    template <class F> auto withRoot(F body)
    {
        const char* old = std::getenv("ZRK_PROD");
        std::string saved = old ? old : "";
        setenv("ZRK_PROD", products.path().c_str(), 1);
        auto result = body();
        if (old) {
            setenv("ZRK_PROD", saved.c_str(), 1);
        } else {
            unsetenv("ZRK_PROD");
        }
        return result;
    }
    TempDir products;
};

} // namespace

TEST(ResourceBundleTest, LanguageSuffixTable)
{
    EXPECT_EQ(ResourceBundle::languageSuffix("de_DE.UTF-8"), "_de.properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("en_GB"), ".properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("FR_fr"), "_fr.properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("pt_PT"), "_pt_BR.properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("zh_TW.UTF-8"), "_zh_TW.properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("zh-tw"), "_zh_TW.properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("zh_CN"), "_zh_CN.properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("ja"), ".properties"); // shorter than 3 characters
    EXPECT_EQ(ResourceBundle::languageSuffix("C"), ".properties");
    EXPECT_EQ(ResourceBundle::languageSuffix("sv_SE"), ".properties");
}

// The C library's order for the messages category; an empty variable counts as unset.
TEST(ResourceBundleTest, MessagesLanguageIsLcAllThenLcMessagesThenLang)
{
    EXPECT_EQ(ResourceBundle::messagesLocaleName("fr_FR", "de_DE", "ja_JP"), "fr_FR");
    EXPECT_EQ(ResourceBundle::messagesLocaleName("", "de_DE.UTF-8", "ja_JP"), "de_DE.UTF-8");
    EXPECT_EQ(ResourceBundle::messagesLocaleName("", "", "ja_JP"), "ja_JP");
    EXPECT_EQ(ResourceBundle::messagesLocaleName("", "", ""), "C");
}

TEST(ResourceBundleTest, ParsesOnlyProductKeysFirstDefinitionWinsAndLinesContinue)
{
    std::map<std::string, std::string> m;
    ResourceBundle::parse("# comment\n"
                          "OTHER_KEY=ignored\n"
                          "ZRKX_A=first\n"
                          "ZRKX_A=second\n"
                          "ZRKX_A.explanation=why\n"
                          "ZRKX_B= spaced = kept \r\n"
                          "ZRKX_C=one \\\n"
                          "two\\\n"
                          "three\n"
                          "ZRKX_D=\\u00e9\n",
                          m);
    EXPECT_EQ(m.size(), 4u);
    EXPECT_EQ(m["ZRKX_A"], "first");
    EXPECT_EQ(m["ZRKX_B"], " spaced = kept \r");
    EXPECT_EQ(m["ZRKX_C"], "one twothree");
    EXPECT_EQ(m["ZRKX_D"], "\\u00e9");
    EXPECT_EQ(m.count("ZRKX_A.explanation"), 0u);

    // Only a key names the help: a text may mention it. No line feed at the end; nothing to
    // continue with.
    std::map<std::string, std::string> last;
    ResourceBundle::parse("ZRKX_F=see ZRKX_A.useraction=\nZRKX_E=end\\", last);
    EXPECT_EQ(last["ZRKX_F"], "see ZRKX_A.useraction=");
    EXPECT_EQ(last["ZRKX_E"], "end\\");
}

TEST_F(CatalogueFixture, LanguageFileFallsBackToDefaultFile)
{
    install("ZRKLang", ".properties", "ZRKL_KEY=default text\n");
    ResourceBundle french = withRoot([] { return ResourceBundle("test.ZRKLang", "fr_FR.UTF-8"); });
    EXPECT_EQ(french.getString("ZRKL_KEY"), "default text");

    install("ZRKLang", "_fr.properties", "ZRKL_KEY=texte\n");
    ResourceBundle french2 = withRoot([] { return ResourceBundle("test.ZRKLang", "fr_FR.UTF-8"); });
    EXPECT_EQ(french2.getString("ZRKL_KEY"), "texte");
    EXPECT_EQ(french2.getString("ZRKL_MISSING"), "ZRKL_MISSING");
}

TEST_F(CatalogueFixture, FormatsApostrophesAndInserts)
{
    install("ZRKFmt", ".properties",
            "ZRKF_APOS=It''s {0}\n"
            "ZRKF_TWO={1} then {0}\n"
            "ZRKF_DUP={0} and {0}\n"
            "ZRKF_NONE=plain\n");
    const std::string bundle = "test.ZRKFmt";
    std::string apos = withRoot([&] { return NLS::format(bundle, "ZRKF_APOS", "x"); });
    EXPECT_EQ(apos, "It's x");
    EXPECT_EQ(NLS::format(bundle, "ZRKF_TWO", "a", "b"), "b then a");
    EXPECT_EQ(NLS::format(bundle, "ZRKF_DUP", "a"), "a and {0}");
    // An insert that itself looks like a placeholder is never substituted again.
    EXPECT_EQ(NLS::format(bundle, "ZRKF_TWO", "{1}", "b"), "b then {1}");
    const char* none = nullptr;
    EXPECT_EQ(NLS::format(bundle, "ZRKF_MISSING", none, std::string("y")), "ZRKF_MISSING null y");
}

TEST_F(CatalogueFixture, InsertMismatchesGiveBestEffortTextAndAReport)
{
    install("ZRKMis", ".properties", "ZRKM_TWO={0} and {1}\nZRKM_ONE=only {0}\n");
    RasDescriptor rd("MismatchCaller", "test.ZRKMis", nullptr);
    testing::internal::CaptureStderr();
    std::string few = withRoot([&] { return NLS::format(rd, "ZRKM_TWO", "x"); });
    std::string many = NLS::format(rd, "ZRKM_ONE", "x", "y");
    std::string reports = testing::internal::GetCapturedStderr();
    EXPECT_EQ(few, "x and {1}");
    EXPECT_EQ(many, "only x");
    EXPECT_NE(reports.find("NLS::format() call from class: MismatchCaller for key ZRKM_TWO - insufficient inserts "
                           "(1 were supplied)"),
              std::string::npos)
        << reports;
    EXPECT_NE(reports.find("NLS::format() call from class: MismatchCaller for key ZRKM_ONE - Not all inserts "
                           "matched (2 were supplied, only 1 used)"),
              std::string::npos)
        << reports;
}

TEST_F(CatalogueFixture, ConcurrentFirstLoadsAgree)
{
    install("ZRKConc", ".properties", "ZRKC_KEY=value {0}\n");
    std::vector<std::string> results(8);
    withRoot([&] {
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back([&, i] { results[i] = NLS::format("test.ZRKConc", "ZRKC_KEY", std::to_string(i)); });
        }
        for (auto& t : threads) {
            t.join();
        }
        return 0;
    });
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(results[i], "value " + std::to_string(i));
    }
}

TEST(ResourceBundleTest, UnitTestKeysCanBeInstalled)
{
    ResourceBundle b = ResourceBundle::getBundle("test.UnitTestKeys");
    b.setupUnitTest();
    EXPECT_EQ(b.getString("UT_NLS_KEY_3"), "Error message 3");
    EXPECT_EQ(ResourceBundle::getBundle("test.UnitTestKeys").getString("UT_NLS_KEY_5"), "Error message 5");
}

// Runs in its own process with the product root pointing nowhere.
TEST(NoCatalogues,  MissingCatalogueYieldsKeyAndInsertsAndOneWarning)
{
    if (!std::getenv("OSTARA_NO_CATALOGUES")) {
        GTEST_SKIP() << "runs only in the NoCatalogues process";
    }
    RasDescriptor rd("KorrUtils", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    testing::internal::CaptureStderr();
    EXPECT_EQ(NLS::format(rd, "ZRKNV0051_MKDIR_FAILED", "/var/x"), "ZRKNV0051_MKDIR_FAILED /var/x");
    EXPECT_EQ(NLS::format("com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages", "ZRKPC0022_PROCESS_ENDED"),
              "ZRKPC0022_PROCESS_ENDED");
    std::string err = testing::internal::GetCapturedStderr();
    std::string::size_type first = err.find("could not be found for ResourceBundle");
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("could not be found for ResourceBundle", first + 1), std::string::npos) << "warned twice";
}
