// Admission, new-firmware version, image selection and the carried image set.
#include "catalogue/catalogue.h"
#include "catalogue/sha256.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#ifndef VELQUOR_STAND_IN_IMAGES
#error "link velquor_images_embedded, which says whether the images are the stand-in set"
#endif

namespace {

// The four selection codes in the order voltage, current, family, version.
using Codes = std::array<uint16_t, 4>;

// Read during static initialisation, before any test runs.
const Codes kCodesAtStart = {ControllerVoltageClass, ControllerCurrentClass, ControllerFamily, NewFirmwareVersion};

Codes CurrentCodes()
{
    return {ControllerVoltageClass, ControllerCurrentClass, ControllerFamily, NewFirmwareVersion};
}

void SetCodes(Codes c)
{
    ControllerVoltageClass = c[0];
    ControllerCurrentClass = c[1];
    ControllerFamily = c[2];
    NewFirmwareVersion = c[3];
}

// Codes that no admission writes, so that any write shows.
constexpr Codes kMarker = {1, 2, 3, 4};

struct AdmittedCase {
    uint32_t TypeCode;
    Codes Written;
    uint16_t Image;
};

const AdmittedCase kAdmitted[] = {
    {0x110FA0AA, {17, 170, 250, 281}, 158}, {0x110FA0D2, {17, 210, 250, 281}, 157},
    {0x110FA0FA, {17, 250, 250, 281}, 151}, {0x140FA0AA, {20, 170, 250, 281}, 174},
    {0x140FA0D2, {20, 210, 250, 281}, 173}, {0x140FA0FA, {20, 250, 250, 281}, 172},
};
constexpr uint32_t IGNORED_CODE = 0x0A0640FA;

TEST(Catalogue, CodesStartAtZeroAndSelectTheFallback)
{
    EXPECT_EQ(kCodesAtStart, (Codes{0, 0, 0, 0}));
    EXPECT_EQ(SelectImage(0, 0, 0), 122);
}

TEST(Catalogue, AdmittedCodesWriteTheirRowAndReachA98304ByteImage)
{
    for (const AdmittedCase& c : kAdmitted) {
        SCOPED_TRACE(testing::Message() << std::hex << c.TypeCode);
        SetCodes(kMarker);
        EXPECT_EQ(AdmitController(c.TypeCode), ADMISSION_ADMITTED);
        EXPECT_EQ(CurrentCodes(), c.Written);
        EXPECT_EQ(SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass), c.Image);
        const uint8_t* bytes = nullptr;
        uint32_t size = 0;
        EXPECT_TRUE(LookupImage(c.Image, &bytes, &size));
        EXPECT_EQ(size, 98304u);
    }
}

TEST(Catalogue, IgnoredCodeLeavesTheLastAdmissionInPlace)
{
    SetCodes({0, 0, 0, 0});
    ASSERT_EQ(AdmitController(0x110FA0D2), ADMISSION_ADMITTED);
    EXPECT_EQ(AdmitController(IGNORED_CODE), ADMISSION_IGNORED);
    EXPECT_EQ(CurrentCodes(), (Codes{17, 210, 250, 281}));
    EXPECT_EQ(SelectImage(ControllerFamily, ControllerCurrentClass, ControllerVoltageClass), 157);
}

TEST(Catalogue, OtherCodesAreIncompatibleAndWriteNothing)
{
    std::vector<uint32_t> codes = {0, 0xFFFFFFFF, 0x120FA0AA, 0x130FA0D2, 0x110FA0C8, 0x140FA0AB,
                                   0x110FA1AA, 0x000FA0AA, 0x0A0640FB};
    for (const AdmittedCase& c : kAdmitted) {
        for (int bit = 0; bit < 32; ++bit) {
            codes.push_back(c.TypeCode ^ (1u << bit));
        }
    }
    for (int bit = 0; bit < 32; ++bit) {
        codes.push_back(IGNORED_CODE ^ (1u << bit));
    }
    for (uint32_t code : codes) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        SetCodes(kMarker);
        EXPECT_EQ(AdmitController(code), ADMISSION_INCOMPATIBLE);
        EXPECT_EQ(CurrentCodes(), kMarker);
    }
}

TEST(Catalogue, NewFirmwareVersionIsWrittenOnlyForAdmittedCodes)
{
    SetCodes({0, 0, 0, 0});
    EXPECT_EQ(NewFirmwareVersionFor(IGNORED_CODE), 0);
    EXPECT_EQ(NewFirmwareVersionFor(0x140FA0D2), 281);
    EXPECT_EQ(NewFirmwareVersion, 281);

    for (uint32_t other : {IGNORED_CODE, 0u, 0x140FA0D3u}) {
        SetCodes(kMarker);
        EXPECT_EQ(NewFirmwareVersionFor(other), kMarker[3]);
        EXPECT_EQ(CurrentCodes(), kMarker);
    }
    for (const AdmittedCase& c : kAdmitted) {
        SetCodes(kMarker);
        EXPECT_EQ(NewFirmwareVersionFor(c.TypeCode), 281);
        EXPECT_EQ(CurrentCodes(), (Codes{1, 2, 3, 281})) << "only the version may change";
    }
}

constexpr uint16_t ANY = 0xAAAA; // a voltage class the row does not test
constexpr uint16_t kVoltages[] = {0, 17, 20, 21, 0xFFFF};

struct SelectionCase {
    uint16_t Family, Current, Voltage, Image;
    uint32_t Size; // 0: the set carries no such image
};

// Each row of the selection table, with the size of the image it names.
const SelectionCase kSelectionRows[] = {
    {3, 90, ANY, 200, 63456},    {101, 40, ANY, 126, 23552},  {101, 55, ANY, 127, 23552},
    {101, 70, ANY, 128, 23552},  {101, 90, ANY, 130, 23552},  {200, 160, ANY, 119, 98304},
    {200, 200, ANY, 120, 36032}, {201, 200, ANY, 152, 64800}, {202, 200, ANY, 153, 77088},
    {245, 160, ANY, 154, 86448}, {245, 200, ANY, 155, 87040}, {245, 300, ANY, 156, 48000},
    {246, 200, 21, 178, 98304},  {247, 200, 21, 179, 98304},  {250, 170, 17, 158, 98304},
    {250, 170, 20, 174, 98304},  {250, 210, 17, 157, 98304},  {250, 210, 20, 173, 98304},
    {250, 220, 17, 150, 0},      {250, 220, 20, 150, 0},      {250, 250, 17, 151, 98304},
    {250, 250, 20, 172, 98304},  {275, 200, ANY, 159, 64752}, {300, 80, ANY, 124, 65792},
    {300, 120, ANY, 125, 65792}, {400, 30, ANY, 131, 121856}, {400, 40, ANY, 132, 121856},
    {400, 55, ANY, 133, 121856}, {500, 60, ANY, 140, 97760},  {500, 90, ANY, 141, 97808},
    {500, 140, ANY, 142, 97808}, {550, 90, ANY, 146, 97792},  {550, 120, ANY, 147, 76320},
    {550, 140, ANY, 148, 97792}, {600, 80, ANY, 160, 38480},  {700, 60, ANY, 170, 57136},
    {700, 90, ANY, 171, 56528},  {800, 180, 21, 177, 96720},  {800, 220, 21, 176, 96736},
    {800, 260, 21, 175, 96720},
};

TEST(Catalogue, EverySelectionRowNamesItsImageWithItsSize)
{
    for (const SelectionCase& c : kSelectionRows) {
        SCOPED_TRACE(testing::Message() << c.Family << "/" << c.Current << "/" << c.Voltage);
        if (c.Voltage == ANY) {
            for (uint16_t v : kVoltages) {
                EXPECT_EQ(SelectImage(c.Family, c.Current, v), c.Image) << "voltage " << v;
            }
        } else {
            EXPECT_EQ(SelectImage(c.Family, c.Current, c.Voltage), c.Image);
        }
        const uint8_t* bytes = nullptr;
        uint32_t size = 1;
        EXPECT_EQ(LookupImage(c.Image, &bytes, &size), c.Size != 0);
        EXPECT_EQ(size, c.Size);
    }
}

TEST(Catalogue, EasyToGetWrongSelections)
{
    const SelectionCase cases[] = {
        {101, 80, 17, 122, 0},  {250, 220, 21, 122, 0}, {250, 220, 0, 122, 0}, {250, 170, 21, 122, 0},
        {250, 250, 0, 122, 0},  {246, 200, 17, 122, 0}, {246, 200, 20, 122, 0}, {247, 200, 0, 122, 0},
        {800, 260, 17, 122, 0}, {800, 260, 20, 122, 0}, {800, 180, 0, 122, 0},  {0, 0, 0, 122, 0},
        {0, 90, 17, 122, 0},    {3, 40, 17, 122, 0},    {101, 160, 0, 122, 0},  {90, 3, 17, 122, 0},
        {170, 250, 17, 122, 0}, {250, 17, 170, 122, 0}, {17, 170, 250, 122, 0}, {251, 170, 17, 122, 0},
        {800, 260, 0xFFFF, 122, 0}, {250, 210, 0xFFFF, 122, 0},
    };
    for (const SelectionCase& c : cases) {
        EXPECT_EQ(SelectImage(c.Family, c.Current, c.Voltage), c.Image)
            << c.Family << "/" << c.Current << "/" << c.Voltage;
    }
}

std::set<uint16_t> SetIds()
{
    std::set<uint16_t> ids;
    for (const ImageInfo& image : kImageSet) {
        ids.insert(image.Id);
    }
    return ids;
}

TEST(Catalogue, SelectionReachesExactlyTheRowImagesAndTheFallback)
{
    std::set<uint16_t> families = {0, 1, 17, 20, 21, 90, 65535}, currents = {0, 1, 65535};
    for (const SelectionCase& c : kSelectionRows) {
        families.insert(c.Family);
        currents.insert(c.Current);
    }
    std::set<uint16_t> reached;
    for (uint16_t f : families) {
        for (uint16_t c : currents) {
            for (uint16_t v : kVoltages) {
                reached.insert(SelectImage(f, c, v));
            }
        }
    }
    EXPECT_EQ(reached.count(143), 0u);
    EXPECT_EQ(reached.count(145), 0u);
    std::set<uint16_t> expected = SetIds();
    expected.erase(143);
    expected.erase(145);
    expected.insert(150);
    EXPECT_EQ(reached, expected);
}

TEST(Catalogue, ImageSetListsItsFortyOneImages)
{
    std::set<uint16_t> ids = SetIds();
    EXPECT_EQ(ids.size(), IMAGE_COUNT);
    std::set<uint16_t> expected = {143, 145, 122};
    for (const SelectionCase& c : kSelectionRows) {
        if (c.Size != 0) {
            expected.insert(c.Image);
        }
    }
    EXPECT_EQ(ids, expected);

    uint64_t total = 0;
    for (const ImageInfo& image : kImageSet) {
        EXPECT_EQ(image.Size % 4, 0u) << image.Id;
        EXPECT_GE(image.Size, 23552u) << image.Id;
        EXPECT_LE(image.Size, 121856u) << image.Id;
        total += image.Size;
    }
    EXPECT_EQ(total, 3208608u);
    for (ImageInfo u : {ImageInfo{122, 62848}, ImageInfo{143, 58224}, ImageInfo{145, 76224}}) {
        const uint8_t* bytes = nullptr;
        uint32_t size = 0;
        EXPECT_TRUE(LookupImage(u.Id, &bytes, &size) && size == u.Size) << u.Id;
    }
}

// The stand-in rule of velquor_make_images, restated: word 0 is the id, then the states of
// xorshift32 (13, 17, 5) from (id + 1) * 0x9E3779B9, little-endian words.
std::vector<uint8_t> StandInImage(uint16_t id, uint32_t size)
{
    std::vector<uint8_t> out(size);
    uint32_t x = (id + 1u) * 0x9E3779B9u;
    for (uint32_t at = 0; at < size; at += 4) {
        uint32_t word = id;
        if (at != 0) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            word = x;
        }
        for (uint32_t b = 0; b < 4; ++b) {
            out[at + b] = static_cast<uint8_t>(word >> (8 * b));
        }
    }
    return out;
}

TEST(Catalogue, LookupGivesEveryImageWholeAndDistinct)
{
    const uint8_t* bytes[IMAGE_COUNT];
    uint32_t sizes[IMAGE_COUNT];
    for (uint32_t i = 0; i < IMAGE_COUNT; ++i) {
        const ImageInfo& image = kImageSet[i];
        SCOPED_TRACE(image.Id);
        bytes[i] = nullptr;
        sizes[i] = 0;
        ASSERT_TRUE(LookupImage(image.Id, &bytes[i], &sizes[i]));
        ASSERT_NE(bytes[i], nullptr);
        ASSERT_EQ(sizes[i], image.Size);
        if (VELQUOR_STAND_IN_IMAGES) {
            std::vector<uint8_t> expected = StandInImage(image.Id, image.Size);
            EXPECT_EQ(std::memcmp(bytes[i], expected.data(), image.Size), 0);
        }
    }
    for (uint32_t i = 0; i < IMAGE_COUNT; ++i) {
        for (uint32_t j = i + 1; j < IMAGE_COUNT; ++j) {
            bool same = sizes[i] == sizes[j] && std::memcmp(bytes[i], bytes[j], sizes[i]) == 0;
            EXPECT_FALSE(same) << kImageSet[i].Id << " and " << kImageSet[j].Id;
        }
    }
}

TEST(Catalogue, IdsWithoutAnImageGiveNothing)
{
    static const uint8_t kSentinel = 0;
    const uint16_t ids[] = {0, 1, 118, 121, 123, 129, 144, 150, 201, 65535};
    for (uint16_t id : ids) {
        const uint8_t* bytes = &kSentinel;
        uint32_t size = 7;
        EXPECT_FALSE(LookupImage(id, &bytes, &size)) << id;
        EXPECT_EQ(bytes, nullptr) << id;
        EXPECT_EQ(size, 0u) << id;
    }
}

// Digests as published with SHA-256 (FIPS 180-4 examples), the two-block case included.
TEST(Catalogue, Sha256OfKnownMessages)
{
    const struct {
        const char* Message;
        const char* Digest;
    } kCases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& c : kCases) {
        uint8_t digest[SHA256_DIGEST_SIZE];
        Sha256(reinterpret_cast<const uint8_t*>(c.Message), static_cast<uint32_t>(std::strlen(c.Message)), digest);
        char hex[2 * SHA256_DIGEST_SIZE + 1];
        for (uint32_t i = 0; i < SHA256_DIGEST_SIZE; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
        EXPECT_STREQ(hex, c.Digest) << "'" << c.Message << "'";
    }
}

// Every carried image is what the build took the digest of; one byte changed anywhere is not.
TEST(Catalogue, EveryImageMatchesItsDigestAndNoDamagedCopyDoes)
{
    for (const ImageInfo& info : kImageSet) {
        const uint8_t* bytes = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(LookupImage(info.Id, &bytes, &size));
        EXPECT_TRUE(ImageMatchesItsDigest(info.Id, bytes, size)) << info.Id;
        std::vector<uint8_t> damaged(bytes, bytes + size);
        damaged[size / 2] ^= 0x01;
        EXPECT_FALSE(ImageMatchesItsDigest(info.Id, damaged.data(), size)) << info.Id;
        EXPECT_FALSE(ImageMatchesItsDigest(info.Id, bytes, size - 4)) << info.Id;
    }
    EXPECT_FALSE(ImageMatchesItsDigest(150, nullptr, 0)) << "no digest for an image not carried";
}

} // namespace
