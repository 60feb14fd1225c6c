#include <gtest/gtest.h>

#include <cmath>

#include "SettingsTestEnvironment.h"

namespace quenbril {
namespace {

using ColorHelperTest = SettingsTest;

Color rgb(int r, int g, int b) { return Color{r / 255.0, g / 255.0, b / 255.0, 1.0}; }

TEST_F(ColorHelperTest, EmptyStoreGivesTheBuiltInTheme) {
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.5, 1.0, 0.5}));
    EXPECT_EQ(ColorHelper::colorForRF(), (Array{1.0, 0.5, 0.0}));
    EXPECT_EQ(ColorHelper::colorForRFA(), (Array{0.5, 0.5, 1.0}));
    EXPECT_EQ(ColorHelper::colorForRFB(), (Array{1.0, 0.5, 0.5}));
    EXPECT_EQ(ColorHelper::colorForRFC(), (Array{0.0, 1.0, 1.0}));
    EXPECT_EQ(ColorHelper::colorForRFD(), (Array{1.0, 1.0, 0.0}));
    EXPECT_EQ(ColorHelper::colorForQL(), (Array{1.0, 0.0, 1.0}));
    EXPECT_EQ(ColorHelper::colorForChannelStripBorder(), (Array{0.5, 0.5, 0.5}));
    EXPECT_EQ(ColorHelper::lineThickness(), 1.0f);
    EXPECT_TRUE(ColorHelper::getColorSettings().empty());
}

TEST_F(ColorHelperTest, StoredThemeAppliesAtTheNextUpdate) {
    ColorHelper::sharedInstance();
    ASSERT_TRUE(ColorHelper::saveColorForKey("colorForAudio", Color{0.25, 0.5, 0.75, 1}));
    EXPECT_EQ(defaults().objectForKey("colorForAudio"), (Value(Array{0.25f, 0.5f, 0.75f})));
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.5, 1.0, 0.5})) << "cached until updated";
    ColorHelper::saveColorForKey("colorForChannelStripBorder", Color{1, 0, 0, 1});
    EXPECT_EQ(ColorHelper::colorForChannelStripBorder(), (Array{1.0f, 0.0f, 0.0f}))
        << "the border is read at every call";
    defaults().setDouble(3.0, "lineThickness");
    ColorHelper::sharedInstance().updateColors();
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.25f, 0.5f, 0.75f}));
    EXPECT_EQ(ColorHelper::lineThickness(), 3.0f);
    EXPECT_EQ(ColorHelper::colorForArray(ColorHelper::colorForAudio()),
              (Color{0.25, 0.5, 0.75, 1}));
}

TEST_F(ColorHelperTest, StoredThemeValuesOfTheWrongKindGiveTheDefault) {
    defaults().setObject("green", "colorForAudio");
    defaults().setObject(Array{1.0, 0.0}, "colorForRF");
    defaults().setObject(Array{1.0, "x", 0.0}, "colorForQL");
    defaults().setObject(Array{0.1, 0.2, 0.3, 0.4}, "colorForRFA");
    defaults().setObject(Dictionary{}, "colorForChannelStripBorder");
    ColorHelper::sharedInstance().updateColors();
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.5, 1.0, 0.5}));
    EXPECT_EQ(ColorHelper::colorForRF(), (Array{1.0, 0.5, 0.0}));
    EXPECT_EQ(ColorHelper::colorForQL(), (Array{1.0, 0.0, 1.0}));
    EXPECT_EQ(ColorHelper::colorForRFA(), (Array{0.1, 0.2, 0.3, 0.4})) << "extra elements are kept";
    EXPECT_EQ(ColorHelper::colorForArray(ColorHelper::colorForRFA()), (Color{0.1f, 0.2f, 0.3f, 1}));
    EXPECT_EQ(ColorHelper::colorForChannelStripBorder(), (Array{0.5, 0.5, 0.5}));
    for (Value bad : {Value(-2.0), Value(0), Value("3"), Value(1e9)}) {
        defaults().setObject(bad, "lineThickness");
        ColorHelper::sharedInstance().updateColors();
        EXPECT_EQ(ColorHelper::lineThickness(), 1.0f) << bad.description();
    }
    EXPECT_EQ(ColorHelper::colorForArray(Array{}), (Color{0, 0, 0, 1}));
}

TEST_F(ColorHelperTest, HexStrings) {
    EXPECT_EQ(ColorHelper::colorFromHexString("#60A9F0"), rgb(96, 169, 240));
    EXPECT_EQ(ColorHelper::colorFromHexString("#zz"), rgb(0, 0, 0));
    EXPECT_EQ(ColorHelper::colorFromHexString(""), rgb(0, 0, 0));
    EXPECT_EQ(ColorHelper::colorFromHexString("#FFFFFFFFFFFF"), rgb(255, 255, 255));
}

TEST_F(ColorHelperTest, ChatNamesTakePaletteIndexesInTheOrderFirstAskedFor) {
    const char* names[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i"};
    const char* palette[] = {"#FFFFFF", "#EEE54E", "#60A9F0", "#F68F1D", "#2DFF72",
                             "#F500AF", "#2BECF8", "#F5005E", "#FFFFFF"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string(names[i])),
                  ColorHelper::colorFromHexString(palette[i]))
            << names[i];
    }
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string("b")),
              rgb(0xEE, 0xE5, 0x4E));
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::nullopt), rgb(255, 255, 255));

    // Indexes from the server: above 8 or negative count as 0; 8 is the last palette entry.
    ColorHelper::sharedInstance().setChatColors(
        Dictionary{{"far", 12}, {"neg", -1}, {"last", 8}, {"text", "3"}});
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string("far")),
              rgb(255, 255, 255));
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string("neg")),
              rgb(255, 255, 255));
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string("last")),
              rgb(0xF7, 0xF6, 0xF6));
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string("text")),
              rgb(255, 255, 255));
    EXPECT_FALSE(ColorHelper::colorForChatGroup(9));
    EXPECT_FALSE(ColorHelper::colorForChatGroup(-1));
}

TEST_F(ColorHelperTest, AHelperKeepsItsOwnThemeAndChatColours) {
    UserDefaults ownDefaults("/nonexistent/quenbril-own-colours", "Defaults");
    ownDefaults.setDouble(4.0, "lineThickness");
    ownDefaults.setObject(Array{0.0, 0.0, 1.0}, "colorForQL");
    ColorHelper own(ownDefaults);
    EXPECT_EQ(own.thickness(), 4.0f);
    EXPECT_EQ(own.qlColor(), (Array{0.0, 0.0, 1.0}));
    EXPECT_EQ(ColorHelper::sharedInstance().thickness(), 1.0f);

    own.setChatColors(Dictionary{{"ann", 3}});
    EXPECT_EQ(own.colorForChatName(std::string("ann")), ColorHelper::colorFromHexString("#F68F1D"));
    EXPECT_EQ(ColorHelper::sharedInstance().colorForChatName(std::string("ann")),
              rgb(255, 255, 255))
        << "the shared helper gives the name its own first index";
    EXPECT_FALSE(ColorHelper::sharedInstance().chatColors().contains("bob"));
    own.colorForChatName(std::string("bob"));
    EXPECT_FALSE(ColorHelper::sharedInstance().chatColors().contains("bob"));
}

TEST_F(ColorHelperTest, GroupColoursComeFromTheStoredTableElseTheBuiltInOne) {
    EXPECT_EQ(ColorHelper::colorForGroup(0), rgb(0x76, 0x76, 0x76));
    EXPECT_EQ(ColorHelper::colorForGroup(8), rgb(0xF7, 0xF6, 0xF6));
    EXPECT_FALSE(ColorHelper::colorForGroup(9));
    EXPECT_FALSE(ColorHelper::colorForGroup(-1));

    const Color stored{0.25, 0.5, 0.75, 0.5};
    defaults().setObject(
        Array{ColorHelper::dicForColor(stored), "junk", Dictionary{{"red", 1}, {"green", 1}},
              ColorHelper::dicForColor(stored)},
        "groupColors");
    EXPECT_EQ(ColorHelper::colorForGroup(0), stored);
    EXPECT_EQ(ColorHelper::colorForGroup(1), rgb(0xEE, 0xE5, 0x4E)) << "not a colour";
    EXPECT_EQ(ColorHelper::colorForGroup(2), rgb(0x60, 0xA9, 0xF0)) << "not a whole colour";
    EXPECT_EQ(ColorHelper::colorForGroup(3), stored);
    EXPECT_EQ(ColorHelper::colorForGroup(4), rgb(0x2D, 0xFF, 0x72)) << "shorter table";

    defaults().setObject("junk", "groupColors");
    EXPECT_EQ(ColorHelper::colorForGroup(0), rgb(0x76, 0x76, 0x76));
}

TEST_F(ColorHelperTest, TestColorsForgetsTheStoredGroupColoursForGood) {
    const Color stored{0.25, 0.5, 0.75, 0.5};
    defaults().setObject(Array{ColorHelper::dicForColor(stored)}, "groupColors");
    ASSERT_TRUE(defaults().synchronize());
    ColorHelper::testColors();
    EXPECT_TRUE(defaults().objectForKey("groupColors").isNull());
    EXPECT_EQ(ColorHelper::colorForGroup(0), rgb(0x76, 0x76, 0x76));
    // Synchronised: the next run does not find them either.
    restart();
    EXPECT_TRUE(defaults().objectForKey("groupColors").isNull());
}

TEST_F(ColorHelperTest, ColourSettingsImportWritesOnlyExportedKeysOfTheirKind) {
    ColorHelper::sharedInstance();
    const Array groups{ColorHelper::dicForColor(Color{1, 0, 0, 1})};
    EXPECT_TRUE(ColorHelper::setColorSettings(Dictionary{{"colorForAudio", Array{0.0, 0.0, 1.0}},
                                                         {"colorForRF", "red"},
                                                         {"colorForQL", Array{1.0, 1.0, 1.0}},
                                                         {"lineThickness", 2.0},
                                                         {"groupColors", groups},
                                                         {"clientID", 4}}));
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.5, 1.0, 0.5})) << "until updateColors";
    restart();
    Dictionary stored = ColorHelper::getColorSettings();
    EXPECT_EQ(stored, (Dictionary{{"colorForAudio", Array{0.0, 0.0, 1.0}},
                                  {"lineThickness", 2.0},
                                  {"groupColors", groups}}));
    EXPECT_TRUE(defaults().objectForKey("clientID").isNull());
    EXPECT_TRUE(defaults().objectForKey("colorForQL").isNull());
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.0, 0.0, 1.0}));
    EXPECT_EQ(ColorHelper::colorForGroup(0), (Color{1, 0, 0, 1}));
}

TEST_F(ColorHelperTest, ColourSettingsImportRefusesNumbersThatAreNotFiniteOrOutOfRange) {
    ColorHelper::sharedInstance();
    Dictionary huge = ColorHelper::dicForColor(Color{1, 0, 0, 1});
    huge.set("blue", 1e308);
    EXPECT_TRUE(
        ColorHelper::setColorSettings(Dictionary{{"colorForAudio", Array{std::nan(""), 0.0, 1.0}},
                                                 {"colorForRF", Array{0.0, HUGE_VAL, 0.0}},
                                                 {"colorForQL", Array{0.0, 0.0, -1.0}},
                                                 {"lineThickness", HUGE_VAL},
                                                 {"groupColors", Array{huge}}}));
    restart();
    EXPECT_EQ(ColorHelper::getColorSettings(), Dictionary{});
    EXPECT_EQ(ColorHelper::colorForAudio(), (Array{0.5, 1.0, 0.5}));
    EXPECT_EQ(ColorHelper::colorForGroup(0), ColorHelper::defaultColorForGroup(0));
}

TEST_F(ColorHelperTest, ColourArraysAreBoundedInCountAndKeys) {
    const Dictionary red = ColorHelper::dicForColor(Color{1, 0, 0, 1});
    Dictionary padded = red;
    padded.set("pad", std::string(1 << 20, 'x'));
    EXPECT_EQ(ColorHelper::groupColorTable(Array{padded, red}), (Array{red, red}));
    EXPECT_TRUE(ColorHelper::groupColorTable(Array(ColorHelper::kMaxGroupColors, red)));
    EXPECT_FALSE(ColorHelper::groupColorTable(Array(ColorHelper::kMaxGroupColors + 1, red)));

    EXPECT_TRUE(
        ColorHelper::setColorSettings(Dictionary{{"groupColors", Array{padded}},
                                                 {"colorForAudio", Array{0.0, 0.0, 1.0, 1.0}},
                                                 {"colorForRF", Array{0.0, 0.0, 1.0, 1.0, 0.5}}}));
    restart();
    EXPECT_EQ(
        ColorHelper::getColorSettings(),
        (Dictionary{{"groupColors", Array{red}}, {"colorForAudio", Array{0.0, 0.0, 1.0, 1.0}}}));
}

TEST_F(ColorHelperTest, LinkGroupColoursRepeatDarkerAfterTheFirstNine) {
    EXPECT_EQ(ColorHelper::colorForLinkGroup(2), (Color{1, 0, 0, 1}));
    EXPECT_EQ(ColorHelper::colorForLinkGroup(9), (Color{1 * 0.7, 0, 0, 1})) << "9 & 7 = 1: red";
    EXPECT_EQ(ColorHelper::colorForLinkGroup(17), (Color{1, 0, 0, 1})) << "bit 3 clear";
    EXPECT_EQ(ColorHelper::colorForLinkGroup(-4), ColorHelper::colorForLinkGroup(0));
}

}  // namespace
}  // namespace quenbril
