// Error table, printers and string helpers.
#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include "HuxCore.h"
#include "TKXOutput.h"
#include "TKXString.h"

namespace {

TEST(ErrorTable, StoredOrderUniqueCodesAndExactMessages) {
    ASSERT_EQ(CoreErrorListSize, 142u);
    std::set<UINT32> codes;
    for (UINT32 i = 0; i < CoreErrorListSize; ++i) EXPECT_TRUE(codes.insert(CoreErrorList[i].Code).second);
    // The table keeps its stored order: 0x36 and 0x37 stand before 0x30, 0xD9 before 0xD8.
    EXPECT_EQ(CoreErrorList[41].Code, 0x36u);
    EXPECT_EQ(CoreErrorList[43].Code, 0x30u);
    EXPECT_EQ(CoreErrorList[CoreErrorListSize - 3].Code, 0xD9u);
    EXPECT_EQ(CoreErrorList[CoreErrorListSize - 1].Code, 0xFFu);

    EXPECT_STREQ(GetCoreErrorString(0x00), "Success: Successfully completed.");
    EXPECT_STREQ(GetCoreErrorString(0x33), "Error: Problem writting file.");
    EXPECT_STREQ(GetCoreErrorString(0x9C), "Error: BIOS don't support NVRAM/SETUP preserve funtion.");
    EXPECT_STREQ(GetCoreErrorString(0x53),
                 "Error: BIOS does not support preserving the setup configuration.\n Use /CLRCFG option to flash "
                 "without preserving.");
    EXPECT_STREQ(GetCoreErrorString(0xF0), "Unknown Error...");
    EXPECT_STREQ(GetCoreErrorString(0x0F), "Unknown Error...");
    EXPECT_STREQ(GetCoreErrorString(0x100), "Unknown Error...");
    EXPECT_EQ(TranslateErrorCode(0x9B), 0x9Bu);
}

TEST(Printers, ErrorLineAndLeadingXDropped) {
    WriteOut = TKXPrintf;
    testing::internal::CaptureStdout();
    EXPECT_EQ(TKXErrorPrintf(static_cast<ENUM_ERR_ID>(0x4A)), 0x4Au);
    TKXPrintf("X%s|", "abc");
    TKXPrintf("%s", "X kept as text");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "4a - Error: Platform data is not empty, And data address is not Alignment Block Address.\n"
              "abc|X kept as text");
}

TEST(IdentifyArg, WholeWordCaseFoldingAndCut) {
    EXPECT_EQ(IdentifyArg("/q", "/Q", 1), 1);
    EXPECT_EQ(IdentifyArg("/q", "/Q", 0), 0);
    EXPECT_EQ(IdentifyArg("/qx", "/Q", 1), 0);
    EXPECT_EQ(IdentifyArg("/Q", "/q", 2), 0) << "folding only when asked with exactly 1";
    std::string longWord(64, 'a');
    EXPECT_EQ(IdentifyArg(longWord.c_str(), std::string(63, 'a').c_str(), 1), 1) << "both cut to 63";
    EXPECT_EQ(IdentifyArg(longWord.c_str(), "/Q", 1), 0);

    EXPECT_STREQ(IdentifyArgPrefix("/cmd:{x}", "/CMD:"), "{x}");
    EXPECT_STREQ(IdentifyArgPrefix("/CMD:", "/CMD:"), "");
    EXPECT_EQ(IdentifyArgPrefix("/CM", "/CMD:"), nullptr);
    EXPECT_EQ(IdentifyArgPrefix("/hole:1", "/CMD:"), nullptr);
}

TEST(StringHelpers, MemoryAndTextHelpers) {
    EXPECT_EQ(MemCmp("ab", "ab", 2), 1);
    EXPECT_EQ(MemCmp("ab", "ac", 2), 0);
    EXPECT_EQ(MemCmp("a", "b", 0), 1);

    unsigned char buf[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(SearchPattern(buf, 4, "cd", 2), nullptr) << "a match ending on the last byte is missed";
    EXPECT_EQ(SearchPattern(buf, 4, "bc", 2), buf + 1);
    EXPECT_EQ(SearchPattern(buf, 4, "abcde", 5), nullptr);

    char dst[8];
    memset(dst, 'z', sizeof(dst));
    StringCopy(dst, "abc");
    EXPECT_EQ(std::string(dst, 5), "abczz") << "no terminator is copied";

    char text[] = "MiXed-1";
    StrToUpper(text);
    EXPECT_STREQ(text, "MIXED-1");
    StrToLow(text);
    EXPECT_STREQ(text, "mixed-1");
    StrToLow(nullptr);
    EXPECT_EQ(StringLength("abcd"), 4u);
    EXPECT_LT(CompareString("abc", "abd"), 0);
    EXPECT_EQ(CompareString("abc", "abc"), 0);

    char small[4];
    EXPECT_EQ(TKX_BoundedCopy(small, "abcdef", 3), 3u);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(TKX_BoundedCopy(small, nullptr, 3), 0u);
    EXPECT_STREQ(small, "");
}

}  // namespace
