// The string table in both languages, the language choice, the formatter and the UTF-16
// helpers. Expected texts are written here as UTF-16 literals, independent of the table's own
// UTF-8 source and of its decoder.
#include <gtest/gtest.h>

#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "app/texts.h"

namespace {

std::u16string Load(TextLanguage language, uint32_t id) {
    char16_t buffer[TEXT_BUFFER_SIZE];
    const int32_t length = LoadTableTextIn(language, id, buffer, TEXT_BUFFER_SIZE);
    EXPECT_EQ(length, TextLength(buffer)) << "id " << id;
    return std::u16string(buffer);
}

std::string Narrow(const std::u16string& text) {
    char buffer[4 * TEXT_BUFFER_SIZE];
    Utf16ToUtf8(text.c_str(), buffer, sizeof buffer);
    return buffer;
}

int32_t Count(const std::u16string& text, const std::u16string& piece) {
    int32_t count = 0;
    for (size_t at = text.find(piece); at != std::u16string::npos; at = text.find(piece, at + 1)) ++count;
    return count;
}

bool EndsWith(const std::u16string& text, const std::u16string& ending) {
    return text.size() >= ending.size() && text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::u16string Format(const char16_t* format, std::vector<FormatArg> args, int32_t capacity = TEXT_BUFFER_SIZE) {
    std::vector<char16_t> out(static_cast<size_t>(capacity) + 8, u'#');
    const int32_t length = FormatText(out.data(), capacity, format, args.data(), static_cast<int32_t>(args.size()));
    EXPECT_EQ(length, TextLength(out.data()));
    EXPECT_LT(length, capacity);
    for (size_t i = static_cast<size_t>(capacity); i < out.size(); ++i) EXPECT_EQ(out[i], u'#') << "written past capacity";
    return std::u16string(out.data());
}

const std::u16string CLOSING = u"Gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:";

// The ids the program carries: those of the design, and 40042 to 40054.
const uint32_t EXPECTED_IDS[] = {
    40000, 40001, 40002, 40003, 40004, 40005, 40006, 40007, 40008, 40009, 40011, 40012, 40015,
    40016, 40017, 40020, 40022, 40023, 40025, 40026, 40027, 40028, 40029, 40030, 40031, 40032,
    40033, 40034, 40035, 40036, 40037, 40038, 40039, 40040, 40041, 40042, 40043, 40044, 40045, 40046, 40047,
    40048, 40049, 40050, 40051, 40052, 40053, 40054, 60001, 60002, 60003, 60004, 60005, 60006, 60007, 60008};

class TextsTest : public ::testing::Test {
protected:
    void TearDown() override { SetTextLanguage(LANGUAGE_ENGLISH); }
};

TEST_F(TextsTest, TableCarriesExactlyTheExpectedIdsInBothLanguages) {
    ASSERT_EQ(TableTextCount(), static_cast<int32_t>(std::size(EXPECTED_IDS)));
    for (int32_t i = 0; i < TableTextCount(); ++i) {
        const uint32_t id = TableTextId(i);
        EXPECT_EQ(id, EXPECTED_IDS[i]);
        const std::u16string english = Load(LANGUAGE_ENGLISH, id);
        const std::u16string german = Load(LANGUAGE_GERMAN, id);
        EXPECT_FALSE(english.empty()) << id;
        EXPECT_FALSE(german.empty()) << id;
        EXPECT_NE(english, german) << "German copy of " << id << " is not German";
    }
    EXPECT_EQ(TableTextId(-1), 0u);
    EXPECT_EQ(TableTextId(TableTextCount()), 0u);
}

TEST_F(TextsTest, EveryIdTheProgramUsesIsCarried) {
    const uint32_t used[] = {
        TEXT_READY_HINT, TEXT_CONNECTION_STEPS, TEXT_UPDATE_FAILED_CAPTION, TEXT_ADDRESS_FAILED,
        TEXT_BLOCK_FAILED, TEXT_REGISTRATION_FAILED, TEXT_APPLICATION_ERROR, TEXT_WRONG_MODE_HINT,
        TEXT_NO_CONTROLLER_HINT, TEXT_NO_UNIT_HINT, TEXT_CONNECTION_LOST_HINT, TEXT_UNIT_NOT_DETECTED,
        TEXT_OLDER_FIRMWARE_QUESTION, TEXT_NEWER_FIRMWARE_CAPTION, TEXT_LOCK_FAILED,
        TEXT_PROTECT_OFF_FAILED_STEP, TEXT_ERASE_FAILED, TEXT_PROGRESS_TITLE, TEXT_FAILURE_HINT,
        TEXT_UPDATE_SUCCESS, TEXT_INCOMPATIBLE_CAPTION, TEXT_INCOMPATIBLE_MESSAGE, TEXT_INCOMPATIBLE_HINT,
        TEXT_ERROR_CODE_LINE, TEXT_WARNING_CAPTION, TEXT_WARNING, TEXT_LABEL_UNIT, TEXT_LABEL_BOOTLOADER,
        TEXT_LABEL_CONTROLLER, TEXT_NO_IMAGE_FOR_CONTROLLER, TEXT_CONTROLLER_CHANGED};
    for (uint32_t id : used) {
        EXPECT_FALSE(Load(LANGUAGE_ENGLISH, id).empty()) << id;
        EXPECT_FALSE(Load(LANGUAGE_GERMAN, id).empty()) << id;
    }
}

TEST_F(TextsTest, UnknownIdsLoadAsEmpty) {
    for (uint32_t id : {0u, 39999u, 40010u, 40013u, 40055u, 60000u, 60009u, 0xFFFFFFFFu}) {
        char16_t buffer[8] = {u'x', u'x', u'x'};
        EXPECT_EQ(LoadTableTextIn(LANGUAGE_GERMAN, id, buffer, 8), 0) << id;
        EXPECT_EQ(buffer[0], u'\0') << id;
    }
}

struct ExactText {
    uint32_t Id;
    const char16_t* Text;
};

const ExactText ENGLISH[] = {
    {40000, u"A programming unit was found and is ready to update. To update to new ESC firmware, please click on the 'Update'-Button.\r\n\r\n!!!  NOTE: Do not disconnect Programming Unit from Computer until update is complete. If disconnected before complete Programming Unit or ESC may no longer function  !!!"},
    {40001, u"1.)\r\nDisconnect the VELQUOR ESC from the receiver (Master and Slave Port) and connect the Master Port with the female connector of the SETBOX/DIALPUCK. NOTE: a BEC or male to male cable required. \r\nThe ZEPHRAX needs instead a program-cable.\r\n\r\n 2.)\r\nConnect the VELQUOR ESC to an appropriate battery. As soon as the connection is established the LEDs of the VELQUOR ESC and the SETBOX starts flashing.\r\n\r\n 3.)\r\n Now connect the SETBOX/DIALPUCK with the supplied USB cable to your PC. If you use a DIALPUCK, please push the button once.\r\n\r\n 4.)\r\n If the programming unit and the ESC were found and ready to update, you can click on the 'Update'-Button to update the firmware."},
    {40002, u"Update failed!"},
    {40003, u"System-Lock-Bit could not be set."},
    {40007, u"Purge of old firmware failed."},
    {40008, u"Address for new firmware couldn't be set. Update cancelled."},
    {40009, u"Error when writing last firmware data block. Update cancelled."},
    {40011, u"Failed to register Windows Device Manager. New devices on USB port cannot be detected.The program is closed."},
    {40012, u"Error in the application."},
    {40015, u"A programming unit was found on the USB Port which is in the wrong mode. To update the ESC do the following:"},
    {40016, u"No updatable ESC connected. Follow the steps below to update ESC software:"},
    {40017, u"No programming unit was found on the USB Port. To update the ESC do the following:"},
    {40020, u"The USB Connection between programming unit and PC was lost. To update the ESC do the following:"},
    {40022, u"Update is interrupted, programming unit is not detected. Please verify connection between computer and programming unit."},
    {40023, u"The firmware version is older or the same as the installed firmware version.  If you continue you will be permanently deleting the current Firmware?"},
    {40025, u"Newer firmware found."},
    {40026, u"System-Lock of programming unit couldn't be set. Update process cancelled."},
    {40027, u"Writing to Flash memory of ESC was not possible. Data writing cancelled."},
    {40028, u"Error deleting old firmware. New data can't be written. Update cancelled."},
    {40029, u"Firmware update in progress, please wait..."},
    {40030, u"Update failed. Please try again. If the error still appears, please contact the VELQUOR Service"},
    {40032, u"The update of the ESC was successful!"},
    {40033, u"ESC incompatible"},
    {40034, u"With this updater you can only update the firmware of VELQUOR ESCs with the type '%s'. Other models are not supported. Please check VELQUOR website (www.velquor.example) to see if there is an updater for your ESC."},
    {40035, u"The connected ESC is not compatible with this updater. Connect compatible ESC and follow steps below to update ESC Software:"},
    {40036, u"The system shows following errorcode: 0x%08x-0x%08x"},
    {40037, u"important note"},
    {40038, u"IMPORTANT: Don't interrupt update process! As long as the LEDs at the programming unit / ESC are flashing, the update is working! You will informed, if the update finished!"},
    {40039, u"programming unit"},
    {40040, u"ESC-bootloader"},
    {40041, u"ESC"},
    {60002, u"1) While pushing button on the Programming Unit, plug USB cable into PC.\r\n\r\n2) Continue to depress the button until the red LED next to button starts to flash, release button. \r\n\r\n3) The LED’s on Programming unit should now be flashing Red and Green, indicating the Programming Unit is now in Bootloader mode. \r\n\r\n4) At this time the Updater Program should have found the Programming Unit and the “Update” button should now be active. Now click “Update” to update the firmware."},
    {60006, u"The firmware version is older or the same as the installed firmware version. If you continue you will be permanently deleting the current Firmware?"},
};

TEST_F(TextsTest, EnglishTextsAreExactlyTheDesignedOnes) {
    for (const ExactText& expected : ENGLISH) {
        EXPECT_EQ(Narrow(Load(LANGUAGE_ENGLISH, expected.Id)), Narrow(expected.Text)) << "id " << expected.Id;
    }
}

TEST_F(TextsTest, EnglishKeepsItsIrregularSpacing) {
    EXPECT_NE(Load(LANGUAGE_ENGLISH, 40011).find(u"detected.The program"), std::u16string::npos);
    EXPECT_NE(Load(LANGUAGE_ENGLISH, 40023).find(u"version.  If"), std::u16string::npos);
    for (uint32_t id : {40000u, 60001u}) {
        const std::u16string text = Load(LANGUAGE_ENGLISH, id);
        EXPECT_NE(text.find(u"\r\n\r\n!!!  NOTE"), std::u16string::npos) << id;
        EXPECT_TRUE(EndsWith(text, u"may no longer function  !!!")) << id;
    }
    const std::u16string steps = Load(LANGUAGE_ENGLISH, 40001);
    EXPECT_EQ(steps.find(u"1.)\r\n"), 0u);
    for (const char16_t* number : {u"\r\n\r\n 2.)\r\n", u"\r\n\r\n 3.)\r\n", u"\r\n\r\n 4.)\r\n"}) {
        EXPECT_EQ(Count(steps, number), 1) << Narrow(number);
    }
    EXPECT_NE(steps.find(u"required. \r\n"), std::u16string::npos);
    EXPECT_EQ(Count(steps, u"\r\n\r\n"), 3);
}

const ExactText GERMAN[] = {
    {40002, u"Update fehlgeschlagen!"},
    {40003, u"Der System-Lock-Bit der Programmiereinheit konnte nicht gesetzt werden"},
    {40004, u"Das System-Lock-Bit der Programmiereinheit konnte nicht zurückgesetzt werden"},
    {40005, u"Reaktivierung des Schreibschutzes des Regler Flash-Speichers fehlgeschlagen"},
    {40006, u"Schreibzugriff auf den Regler Flash-Speicher nicht möglich!"},
    {40007, u"Löschen der alten Firmware-Daten schlug fehl."},
    {40008, u"Die Speicheradresse, an welche die neue Firmware geschrieben wird, konnte nicht gesetzt werden. Das Update wird abgebrochen"},
    {40009, u"Fehler beim Schreiben des letzten Firmware Datenblocks. Das Update wird abgebrochen."},
    {40011, u"Fehler beim Registrieren des Windows Geräte-Meldungshandlers. Neue Geräte am USB Port können nicht erkannt werden. Das Programm wird geschlossen."},
    {40012, u"Fehler in der Anwendung"},
    {40020, u"Die USB Verbindung zwischen Programmiereinheit und PC wurde getrennt. Gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    {40025, u"Neuere Firmware gefunden"},
    {40026, u"System-Lock der Programmiereinheit konnte nicht gesetzt werden. Das Update wird abgebrochen."},
    {40027, u"Schreibzugriff auf den Flash-Speicher des Reglers nicht möglich. Das Update wird abgebrochen."},
    {40028, u"Fehler beim Löschen der alten Firmware. Neue Daten können nicht geschrieben werden. Das Update wird abgebrochen."},
    {40029, u"Firmware wird geschrieben, bitte warten..."},
    {40033, u"Regler inkompatibel"},
    {40036, u"Das System meldet Fehlercode 0x%08x-0x%08x"},
    {40037, u"Wichtiger Hinweis"},
    {40038, u"WICHTIG: Den Updatevorgang NICHT unterbrechen! Solang die LEDs an Regler bzw. Programmiereinheit noch blinken, werden Daten übertragen!"},
    {40039, u"Programmiereinheit"},
    {40040, u"Regler-Bootloader"},
    {40041, u"Regler"},
    {60007, u"Das Update der Programmiereinheit Software wurde erfolgreich durchgeführt!"},
    {60008, u"Schreibzugriff auf den Flash-Speicher der Programmiereinheit nicht möglich. Das Update wird abgebrochen"},
};

TEST_F(TextsTest, GermanTextsAreExactlyTheDesignedOnes) {
    for (const ExactText& expected : GERMAN) {
        EXPECT_EQ(Narrow(Load(LANGUAGE_GERMAN, expected.Id)), Narrow(expected.Text)) << "id " << expected.Id;
    }
}

struct LongGermanText {
    uint32_t Id;
    int32_t DesignedLength;
    const char16_t* Ending;  // null: no fixed ending
};

TEST_F(TextsTest, LongGermanTextsHaveTheirLengthAndEnding) {
    const LongGermanText texts[] = {
        {40000, 435, u"!!!"},   {40001, 789, nullptr}, {40015, 185, CLOSING.c_str()},
        {40016, 182, CLOSING.c_str()}, {40017, 183, CLOSING.c_str()}, {40022, 193, nullptr},
        {40023, 252, u"?"},     {40030, 182, nullptr}, {40031, 333, nullptr},
        {40032, 213, nullptr},  {40034, 291, nullptr},
        {40035, 212, u" und gehen Sie folgendermaßen vor, um ein Update der Regler Software durchzuführen:"},
    };
    for (const LongGermanText& expected : texts) {
        const std::u16string text = Load(LANGUAGE_GERMAN, expected.Id);
        const auto length = static_cast<int32_t>(text.size());
        EXPECT_GE(length, expected.DesignedLength * 3 / 4) << expected.Id;
        EXPECT_LE(length, expected.DesignedLength * 5 / 4) << expected.Id;
        EXPECT_TRUE(expected.Ending == nullptr || EndsWith(text, expected.Ending)) << expected.Id;
    }
    EXPECT_EQ(Count(Load(LANGUAGE_GERMAN, 40035), CLOSING), 0) << "40035 continues a sentence";
}

TEST_F(TextsTest, GermanTextsKeepTheirLayoutAndNames) {
    const std::u16string ready = Load(LANGUAGE_GERMAN, 40000);
    const size_t paragraph = ready.find(u"\r\n\r\n!!!");
    ASSERT_NE(paragraph, std::u16string::npos);
    EXPECT_EQ(Count(ready, u"\r\n"), 2);
    EXPECT_NE(ready.find(u"'Update'"), std::u16string::npos);

    const std::u16string steps = Load(LANGUAGE_GERMAN, 40001);
    EXPECT_EQ(steps.find(u"1.)\r\n"), 0u);
    for (const char16_t* number : {u"\r\n\r\n2.)\r\n", u"\r\n\r\n3.)\r\n", u"\r\n\r\n4.)\r\n"}) {
        EXPECT_EQ(Count(steps, number), 1) << Narrow(number);
    }
    EXPECT_EQ(Count(steps, u"\r\n\r\n"), 3);
    for (const char16_t* name : {u"VELQUOR", u"SETBOX/DIALPUCK", u"ZEPHRAX", u"'Update'"}) {
        EXPECT_NE(steps.find(name), std::u16string::npos) << Narrow(name);
    }

    const std::u16string unitSteps = Load(LANGUAGE_GERMAN, 60002);
    EXPECT_EQ(unitSteps.find(u"i) "), 0u);
    for (const char16_t* number : {u"\r\n\r\nii) ", u"\r\n\r\niii) ", u"\r\n\r\niv) "}) {
        EXPECT_EQ(Count(unitSteps, number), 1) << Narrow(number);
    }

    const std::u16string incompatible = Load(LANGUAGE_GERMAN, 40034);
    EXPECT_EQ(Count(incompatible, u"%"), 1);
    EXPECT_NE(incompatible.find(u"des Typs '%s'"), std::u16string::npos);
    EXPECT_NE(incompatible.find(u"unter www.velquor.example"), std::u16string::npos);
    for (uint32_t id : {40030u, 40031u}) {
        EXPECT_NE(Load(LANGUAGE_GERMAN, id).find(u"VELQUOR Service"), std::u16string::npos) << id;
    }
}

TEST_F(TextsTest, LineBreaksArePairsAndApostrophesArePlain) {
    for (int32_t i = 0; i < TableTextCount(); ++i) {
        for (TextLanguage language : {LANGUAGE_ENGLISH, LANGUAGE_GERMAN}) {
            const uint32_t id = TableTextId(i);
            const std::u16string text = Load(language, id);
            for (size_t at = 0; at < text.size(); ++at) {
                const char16_t unit = text[at];
                const bool typographic = unit == u'’' || unit == u'“' || unit == u'”';
                EXPECT_TRUE(unit != u'\r' || text[at + 1] == u'\n') << id;
                EXPECT_TRUE(unit != u'\n' || (at > 0 && text[at - 1] == u'\r')) << id;
                EXPECT_TRUE(unit != u'\\' && unit != u'\t') << id;
                EXPECT_TRUE(!typographic || (id == 60002 && language == LANGUAGE_ENGLISH)) << id;
            }
            EXPECT_EQ(Count(text, u"%"), id == 40036 ? 2 : id == 40034 ? 1 : 0) << id;
        }
    }
}

TEST_F(TextsTest, TheFormatTextsFillInTheirArguments) {
    char16_t format[TEXT_BUFFER_SIZE];
    const FormatArg type[] = {TextArg(u"ORVANT QX")};
    const FormatArg codes[] = {NumberArg(static_cast<uint32_t>(-2)), NumberArg(31)};
    struct {
        TextLanguage Language;
        uint32_t Id;
        const FormatArg* Args;
        int32_t ArgCount;
        const char16_t* Expected;
    } const cases[] = {
        {LANGUAGE_ENGLISH, 40034, type, 1, u"with the type 'ORVANT QX'. Other"},
        {LANGUAGE_GERMAN, 40034, type, 1, u"des Typs 'ORVANT QX' "},
        {LANGUAGE_ENGLISH, 40036, codes, 2, u"The system shows following errorcode: 0xfffffffe-0x0000001f"},
        {LANGUAGE_GERMAN, 40036, codes, 2, u"Das System meldet Fehlercode 0xfffffffe-0x0000001f"},
    };
    for (const auto& c : cases) {
        LoadTableTextIn(c.Language, c.Id, format, TEXT_BUFFER_SIZE);
        char16_t out[TEXT_BUFFER_SIZE];
        FormatText(out, TEXT_BUFFER_SIZE, format, c.Args, c.ArgCount);
        const std::u16string text(out);
        EXPECT_NE(text.find(c.Expected), std::u16string::npos) << Narrow(text);
        EXPECT_EQ(text.find(u'%'), std::u16string::npos) << Narrow(text);
    }
}

TEST_F(TextsTest, LoadingCutsToTheBufferLikeLoadString) {
    struct {
        uint32_t Id;
        TextLanguage Language;
        int32_t Capacity;
        const char16_t* Expected;
    } const cases[] = {
        {40002, LANGUAGE_ENGLISH, 1, u""},
        {40002, LANGUAGE_ENGLISH, 2, u"U"},
        {40002, LANGUAGE_ENGLISH, 7, u"Update"},
        {40002, LANGUAGE_ENGLISH, 14, u"Update failed"},
        {40002, LANGUAGE_ENGLISH, 15, u"Update failed!"},
        {40002, LANGUAGE_ENGLISH, 16, u"Update failed!"},
        {40007, LANGUAGE_GERMAN, 3, u"Lö"},
        {40001, LANGUAGE_ENGLISH, 5, u"1.)\r"},
    };
    for (const auto& c : cases) {
        char16_t buffer[24];
        for (char16_t& unit : buffer) unit = u'#';
        const int32_t length = LoadTableTextIn(c.Language, c.Id, buffer, c.Capacity);
        EXPECT_EQ(std::u16string(buffer), c.Expected) << c.Id << " in " << c.Capacity;
        EXPECT_EQ(length, TextLength(c.Expected));
        EXPECT_EQ(buffer[c.Capacity], u'#') << "written past capacity " << c.Capacity;
    }
    char16_t untouched[2] = {u'#', u'#'};
    EXPECT_EQ(LoadTableTextIn(LANGUAGE_ENGLISH, 40002, untouched, 0), 0);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(LoadTableText(40002, nullptr, 16), 0);
}

TEST_F(TextsTest, LoadTableTextFollowsTheChosenLanguage) {
    char16_t buffer[32];
    SetTextLanguage(LANGUAGE_GERMAN);
    EXPECT_EQ(GetTextLanguage(), LANGUAGE_GERMAN);
    LoadTableText(40041, buffer, 32);
    EXPECT_EQ(std::u16string(buffer), u"Regler");
    SetTextLanguage(LANGUAGE_ENGLISH);
    EXPECT_EQ(GetTextLanguage(), LANGUAGE_ENGLISH);
    LoadTableText(40041, buffer, 32);
    EXPECT_EQ(std::u16string(buffer), u"ESC");
}

TEST_F(TextsTest, OnlyGermanyLocalesChooseGerman) {
    struct {
        const char* Name;
        TextLanguage Expected;
    } const cases[] = {
        {"de_DE", LANGUAGE_GERMAN},      {"de_DE.UTF-8", LANGUAGE_GERMAN}, {"de_DE@euro", LANGUAGE_GERMAN},
        {"de_DE.ISO-8859-1", LANGUAGE_GERMAN}, {"de-DE", LANGUAGE_GERMAN},
        {"de_AT", LANGUAGE_ENGLISH},     {"de_CH.UTF-8", LANGUAGE_ENGLISH}, {"de", LANGUAGE_ENGLISH},
        {"de_", LANGUAGE_ENGLISH},       {"de_D", LANGUAGE_ENGLISH},       {"de_DEU", LANGUAGE_ENGLISH},
        {"en_US", LANGUAGE_ENGLISH},     {"en_DE", LANGUAGE_ENGLISH},      {"C", LANGUAGE_ENGLISH},
        {"POSIX", LANGUAGE_ENGLISH},     {"", LANGUAGE_ENGLISH},           {nullptr, LANGUAGE_ENGLISH},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LanguageFromLocaleName(c.Name), c.Expected) << (c.Name != nullptr ? c.Name : "(null)");
    }
}

TEST(TextFormat, HandlesEveryDirectiveAndMissingArguments) {
    struct {
        const char16_t* Format;
        std::vector<FormatArg> Args;
        const char16_t* Expected;
    } const cases[] = {
        {u"VELQUOR %s FW Updater %u.%u %s", {TextArg(u"ORVANT QX"), NumberArg(1), NumberArg(25), TextArg(u"")},
         u"VELQUOR ORVANT QX FW Updater 1.25 "},
        {u"%u.", {NumberArg(0)}, u"0."},
        {u"%u", {NumberArg(4294967295u)}, u"4294967295"},
        {u"%x|%08x", {NumberArg(0xABCDEF12u), NumberArg(0x65B)}, u"abcdef12|0000065b"},
        {u"%04x", {NumberArg(0x12345)}, u"12345"},
        {u"%3u|%03u", {NumberArg(7), NumberArg(7)}, u"  7|007"},
        {u"100%%", {}, u"100%"},
        {u"50%", {}, u"50%"},
        {u"%d and %0", {NumberArg(5)}, u"%d and %0"},
        {u"[%s]", {}, u"[]"},
        {u"[%s]", {NumberArg(5)}, u"[]"},
        {u"[%u]", {TextArg(u"x")}, u"[]"},
        {u"[%s]", {TextArg(nullptr)}, u"[]"},
        {u"%s-%u", {NumberArg(5), NumberArg(6)}, u"-6"},
        {u"%u/%u", {NumberArg(7)}, u"7/"},
        {u"Größe %s", {TextArg(u"äö\U0001D11E")}, u"Größe äö\U0001D11E"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format(c.Format, c.Args), c.Expected) << Narrow(c.Format);
    }
    char16_t out[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(FormatText(out, 4, nullptr, nullptr, 0), 0);
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(FormatText(out, 0, u"abc", nullptr, 0), 0);
}

TEST(TextFormat, CutsToCapacity) {
    EXPECT_EQ(Format(u"0x%08x", {NumberArg(0x1F)}, 6), u"0x000");
    EXPECT_EQ(Format(u"0x%08x", {NumberArg(0x1F)}, 10), u"0x0000001");
    EXPECT_EQ(Format(u"ab%scd", {TextArg(u"XYZ")}, 5), u"abXY");
    EXPECT_EQ(Format(u"%%%%", {}, 2), u"%");
    EXPECT_EQ(Format(u"%3000u", {NumberArg(1)}, 8), u"       ");
    EXPECT_EQ(Format(u"abc", {}, 1), u"");
}

TEST(TextHelpers, CopyAndAppendStayInsideTheBuffer) {
    struct {
        const char16_t* Start;
        const char16_t* Appended;
        int32_t Capacity;
        const char16_t* Expected;
    } const cases[] = {
        {u"Update failed!", u"\r\n", 32, u"Update failed!\r\n"},
        {u"abc", u"def", 7, u"abcdef"},
        {u"abc", u"def", 6, u"abcde"},
        {u"abcdef", u"gh", 4, u"abc"},
        {u"", u"xyz", 1, u""},
        {u"abc", nullptr, 8, u"abc"},
        {nullptr, u"xyz", 8, u"xyz"},
    };
    for (const auto& c : cases) {
        char16_t buffer[40];
        for (char16_t& unit : buffer) unit = u'#';
        const int32_t copied = CopyText(buffer, c.Capacity, c.Start);
        EXPECT_EQ(copied, TextLength(buffer));
        const int32_t length = AppendText(buffer, c.Capacity, c.Appended);
        EXPECT_EQ(std::u16string(buffer), c.Expected);
        EXPECT_EQ(length, TextLength(c.Expected));
        EXPECT_EQ(buffer[c.Capacity], u'#');
    }
    char16_t unterminated[4] = {u'a', u'b', u'c', u'd'};
    EXPECT_EQ(AppendText(unterminated, 3, u"x"), 2);
    EXPECT_EQ(std::u16string(unterminated), u"ab");
    char16_t untouched[1] = {u'#'};
    EXPECT_EQ(CopyText(untouched, 0, u"a"), 0);
    EXPECT_EQ(AppendText(untouched, 0, u"a"), 0);
    EXPECT_EQ(untouched[0], u'#');
    EXPECT_EQ(TextLength(nullptr), 0);
    EXPECT_EQ(TextLength(u"a\r\nb"), 4);
}

TEST(TextHelpers, CaseFoldsOnlyAsciiLetters) {
    struct {
        const char16_t* A;
        const char16_t* B;
        bool Equal;
    } const cases[] = {
        {u"\\\\?\\HID#VID_21B8&PID_0001#7&1a2b", u"\\\\?\\hid#vid_21b8&pid_0001#7&1A2B", true},
        {u"abc", u"abc", true},
        {u"", u"", true},
        {nullptr, u"", true},
        {u"abc", u"abcd", false},
        {u"abcd", u"abc", false},
        {u"@[\\]^", u"`{|}~", false},
        {u"Ä", u"ä", false},
        {u"Ω", u"ω", false},
        {u"a", nullptr, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextEqualsIgnoringAsciiCase(c.A, c.B), c.Equal) << (c.A ? Narrow(c.A) : "(null)");
        EXPECT_EQ(TextEqualsIgnoringAsciiCase(c.B, c.A), c.Equal);
    }
}

TEST(Utf, RoundTripsUmlautsAndSurrogatePairs) {
    const char16_t* wide = u"Größe ß € \U0001D11E \U0010FFFF \u00FF\u07FF\u0800\uFFFD";
    const char* narrow = "Gr\xC3\xB6\xC3\x9F" "e \xC3\x9F \xE2\x82\xAC \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF "
                         "\xC3\xBF\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBD";
    char bytes[64];
    EXPECT_EQ(Utf16ToUtf8(wide, bytes, sizeof bytes), static_cast<int32_t>(std::string(narrow).size()));
    EXPECT_EQ(std::string(bytes), narrow);
    char16_t units[64];
    EXPECT_EQ(Utf8ToUtf16(narrow, units, 64), TextLength(wide));
    EXPECT_EQ(std::u16string(units), wide);
}

TEST(Utf, ReplacesIllFormedInput) {
    struct {
        const char* Narrow;
        const char16_t* Wide;
    } const fromUtf8[] = {
        {"a\x80" "b", u"a\uFFFDb"},
        {"\xC3", u"\uFFFD"},
        {"\xE2\x82" "A", u"\uFFFDA"},
        {"\xF0\x9D\x84", u"\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xFF\xFEx", u"\uFFFD\uFFFDx"},
    };
    for (const auto& c : fromUtf8) {
        char16_t units[16];
        Utf8ToUtf16(c.Narrow, units, 16);
        EXPECT_EQ(Narrow(units), Narrow(c.Wide)) << c.Narrow;
    }
    const char16_t loneHigh[] = {u'a', 0xD834, u'b', 0};
    const char16_t loneLow[] = {0xDD1E, 0};
    const char16_t reversed[] = {0xDD1E, 0xD834, 0};
    const char16_t highAtEnd[] = {u'x', 0xD834, 0};
    struct {
        const char16_t* Wide;
        const char* Narrow;
    } const fromUtf16[] = {
        {loneHigh, "a\xEF\xBF\xBD" "b"},
        {loneLow, "\xEF\xBF\xBD"},
        {reversed, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {highAtEnd, "x\xEF\xBF\xBD"},
    };
    for (const auto& c : fromUtf16) {
        char bytes[16];
        Utf16ToUtf8(c.Wide, bytes, 16);
        EXPECT_EQ(std::string(bytes), c.Narrow);
    }
}

TEST(Utf, CutsBeforeACharacterThatDoesNotFit) {
    struct {
        const char16_t* Wide;
        int32_t Capacity;
        const char* Expected;
    } const toUtf8[] = {
        {u"ä", 2, ""}, {u"ä", 3, "\xC3\xA4"}, {u"a€", 4, "a"}, {u"\U0001D11E", 4, ""}, {u"\U0001D11E", 5, "\xF0\x9D\x84\x9E"},
    };
    for (const auto& c : toUtf8) {
        char bytes[8];
        for (char& byte : bytes) byte = '#';
        EXPECT_EQ(Utf16ToUtf8(c.Wide, bytes, c.Capacity), static_cast<int32_t>(std::string(c.Expected).size()));
        EXPECT_EQ(std::string(bytes), c.Expected);
        EXPECT_EQ(bytes[c.Capacity], '#');
    }
    struct {
        const char* Narrow;
        int32_t Capacity;
        const char16_t* Expected;
    } const toUtf16[] = {
        {"a\xF0\x9D\x84\x9E", 2, u"a"}, {"a\xF0\x9D\x84\x9E", 3, u"a"}, {"a\xF0\x9D\x84\x9E", 4, u"a\U0001D11E"}, {"ab", 1, u""},
    };
    for (const auto& c : toUtf16) {
        char16_t units[8];
        for (char16_t& unit : units) unit = u'#';
        EXPECT_EQ(Utf8ToUtf16(c.Narrow, units, c.Capacity), TextLength(c.Expected));
        EXPECT_EQ(std::u16string(units), c.Expected);
        EXPECT_EQ(units[c.Capacity], u'#');
    }
    char byte = '#';
    char16_t unit = u'#';
    EXPECT_EQ(Utf16ToUtf8(u"a", &byte, 0), 0);
    EXPECT_EQ(Utf8ToUtf16("a", &unit, 0), 0);
    EXPECT_EQ(byte, '#');
    EXPECT_EQ(unit, u'#');
    EXPECT_EQ(Utf8ToUtf16(nullptr, &unit, 1), 0);
    EXPECT_EQ(unit, u'\0');
}

}  // namespace
