#include "db/Scramble.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>

namespace {

struct EncodeCase {
    const char* name;
    std::string plain;
    std::string scrambled;
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

// Expected forms worked out by hand from the 12-byte key.
const EncodeCase encodeCases[] = {
    {"empty", "", ""},
    {"ordinary", "masterkey", "55173415291f45173d"},
    {"thirteenBytesReuseTheFirstKeyByte", "ABCDEFGHIJKLM", "79340425092b693a0d3f1a7f75"},
    {"zeroAndSmallBytesKeepTwoDigits", std::string("\0\n", 2), "387c"},
    {"eightBitText", "Пароль", "e8e997d19dedfecc94ce80bf"},
};

class XorEncodeTest : public testing::TestWithParam<EncodeCase> {};

TEST_P(XorEncodeTest, WritesLowerCaseHexAndDecodesBack)
{
    const EncodeCase& c = GetParam();
    EXPECT_EQ(scramble::XorEncode(c.plain), c.scrambled);
    EXPECT_EQ(scramble::XorDecode(c.scrambled), c.plain);
}

INSTANTIATE_TEST_SUITE_P(Scramble, XorEncodeTest, testing::ValuesIn(encodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    std::string stored;
    std::string plain;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

const DecodeCase decodeCases[] = {
    {"upperCaseDigits", "55173415291F45173D", "masterkey"},
    {"mixedCaseDigits", "55173415291f45173D", "masterkey"},
    {"oddLengthDropsLastCharacter", "551734152", "mast"},
    {"singleCharacterIsEmpty", "5", ""},
    // Not hexadecimal: the value 32 combined with the key byte of its place.
    {"nonHexPairIsBlank", "zz", std::string(1, static_cast<char>(32 ^ '8'))},
    {"nonHexPairAtSecondPlace", "55gg", std::string("m") + static_cast<char>(32 ^ 'v')},
    {"halfHexPairIsBlank", "5g", std::string(1, static_cast<char>(32 ^ '8'))},
    {"signIsNotADigit", "-1", std::string(1, static_cast<char>(32 ^ '8'))},
};

class XorDecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(XorDecodeTest, DecodesWithoutFailing) { EXPECT_EQ(scramble::XorDecode(GetParam().stored), GetParam().plain); }

INSTANTIATE_TEST_SUITE_P(Scramble, XorDecodeTest, testing::ValuesIn(decodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Scramble, EveryByteSurvivesARoundTrip)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::string scrambled = scramble::XorEncode(all);
    EXPECT_EQ(scrambled.size(), 512u);
    EXPECT_EQ(scrambled.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(scramble::XorDecode(scrambled), all);
}

} // namespace
