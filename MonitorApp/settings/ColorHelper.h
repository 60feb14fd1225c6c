#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/Value.h"

namespace quenbril {

class UserDefaults;

/// The colour theme: the level-display colours and trace thickness (stored in the user
/// defaults, cached here), the colours of the eight channel groups, the colours that tell chat
/// senders apart, and a few fixed interface colours. Main thread only.
///
/// A theme colour is an array of three numbers (red, green, blue in 0..1), perhaps with alpha. A
/// stored theme value that is not an array of three or four such numbers counts as missing and
/// gives the default.
class ColorHelper {
  public:
    static constexpr const char* kGroupColorsKey = "groupColors";
    static constexpr const char* kLineThicknessKey = "lineThickness";
    /// Stored line thickness above this (points) counts as missing.
    static constexpr float kMaxLineThickness = 16.0f;

    static ColorHelper& sharedInstance();
    /// Tests: drops the shared instance (a restart: the cache and the chat colours go).
    static void resetSharedInstance();

    /// Empty chat colours, the theme read from `defaults`.
    explicit ColorHelper(const UserDefaults& defaults);
    /// Reads the theme colours and the line thickness from the user defaults again.
    void updateColors();

    // The cached theme of the shared instance, for the legacy GL views that are not handed a
    // ColorHelper yet; everything else reads the accessors below.
    static Array colorForAudio();
    static Array colorForRF();
    static Array colorForRFA();
    static Array colorForRFB();
    static Array colorForRFC();
    static Array colorForRFD();
    static Array colorForQL();
    static float lineThickness();
    /// Read from the user defaults at each call.
    static Array colorForChannelStripBorder();

    /// Red, green and blue from elements 0 to 2 (a missing or non-numeric one reads as 0),
    /// alpha 1.
    static Color colorForArray(const Array& array);
    /// Stores [red, green, blue] as single-precision numbers under `key`. False when the store
    /// could not be written.
    static bool saveColorForKey(std::string_view key, const Color& color);
    /// "#RRGGBB": the first character is skipped, the rest read as a hexadecimal number.
    static Color colorFromHexString(std::string_view hex);
    /// The stored "groupColors" element at `index` when it is a colour dictionary, else the
    /// built-in colour of groups 0 to 8; none for any other index.
    static std::optional<Color> colorForGroup(int32_t index);
    /// The built-in colour of groups 0 to 8; none for any other index.
    static std::optional<Color> defaultColorForGroup(int32_t index);
    /// The chat palette, indexes 0 to 8; none for any other index.
    static std::optional<Color> colorForChatGroup(int index);
    /// The palette colour of a chat sender: the index remembered for the name, else the next
    /// index (names so far, modulo 8), remembered for the rest of the run. No name: colour 0.
    Color colorForChatName(const std::optional<std::string>& name);
    /// {"red", "green", "blue", "alpha"} as numbers.
    static Dictionary dicForColor(const Color& color);
    /// The colour of such a dictionary; a missing or non-numeric component reads as 0.
    static Color colorFromDic(const Dictionary& dictionary);
    /// Whether `value` is a colour dictionary: the four components, all finite numbers in 0..1.
    static bool isColorDictionary(const Value& value);
    /// The most colours a "groupColors" table holds (group indexes 0 and up).
    static constexpr size_t kMaxGroupColors = 256;
    /// A "groupColors" value (from the link or a settings file) as it is stored: an array of at
    /// most kMaxGroupColors colour dictionaries, each cut to its four components. None for any
    /// other value.
    static std::optional<Array> groupColorTable(const Value& value);
    /// The stored colour settings of the settings file, each key only when stored.
    static Dictionary getColorSettings();
    /// Writes the colour settings of an imported settings file into the user defaults: only
    /// the keys `getColorSettings` exports, each only when of its kind (a colour array, a
    /// positive line thickness, an array of group colours). The cache changes at the next
    /// `updateColors`. False when a write failed.
    static bool setColorSettings(const Dictionary& settings);
    /// Colours of linked groups: nine fixed colours for 0 to 8; from 9 on the last eight of
    /// them in turn, darkened while bit 3 of the index is set. A negative index gives colour 0.
    static Color colorForLinkGroup(int index);
    /// A check of the group colours by hand: forgets the stored "groupColors" (synchronised, so
    /// the built-in table is back for good) and turns group colour 0 into a dictionary and
    /// back. Nothing in the program calls it.
    static void testColors();

    static Color vozodDarkGray();
    static Color vozodDarkerGray();
    static Color vozodLightGray();
    static Color vozodGreen();
    static Color vozodRed();
    static Color messageRemovedColor();

    /// Chat name -> palette index (a number). The dispatcher refills it from "ChatColors".
    Dictionary& chatColors() { return chatColors_; }
    void setChatColors(Dictionary v) { chatColors_ = std::move(v); }
    const Array& audioColor() const { return audioColor_; }
    const Array& rfColor() const { return rfColor_; }
    const Array& rfAColor() const { return rfAColor_; }
    const Array& rfBColor() const { return rfBColor_; }
    const Array& rfCColor() const { return rfCColor_; }
    const Array& rfDColor() const { return rfDColor_; }
    const Array& qlColor() const { return qlColor_; }
    /// The trace thickness in points.
    float thickness() const { return lineThickness_; }

  private:
    const UserDefaults& defaults_;
    float lineThickness_ = 1.0f;
    Dictionary chatColors_;
    Array audioColor_;
    Array rfColor_;
    Array rfAColor_;
    Array rfBColor_;
    Array rfCColor_;
    Array rfDColor_;
    Array qlColor_;
};

}  // namespace quenbril
