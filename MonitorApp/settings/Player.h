#pragma once

#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// A performer of the production: name, role, comments and picture (TIFF bytes, never decoded
/// here). Any field may be missing.
class Player {
  public:
    Player() = default;
    /// A player from a player dictionary ("Name", "RoleName", "Comments", "Image"). A missing
    /// field, or one of the wrong kind, is left missing.
    explicit Player(const Dictionary& dictionary);

    /// "<name> as <role>" when the role is not empty, else the name. This is the text a strip's
    /// `playerName` names its player by.
    std::string displayName() const;
    /// The player dictionary. A missing name, role or comments becomes the empty string and a
    /// missing picture the "drop image here" picture; these fills stay in the player.
    Dictionary propertyDic();

    const std::optional<std::string>& name() const { return name_; }
    void setName(std::optional<std::string> v) { name_ = std::move(v); }
    const std::optional<std::string>& roleName() const { return roleName_; }
    void setRoleName(std::optional<std::string> v) { roleName_ = std::move(v); }
    const std::optional<std::string>& comments() const { return comments_; }
    void setComments(std::optional<std::string> v) { comments_ = std::move(v); }
    const std::optional<Bytes>& image() const { return image_; }
    void setImage(std::optional<Bytes> v) { image_ = std::move(v); }

    /// The placeholder picture "DropImageHere.tiff" (TIFF bytes).
    static const Bytes& dropImageHere();

  private:
    std::optional<std::string> name_;
    std::optional<std::string> roleName_;
    std::optional<std::string> comments_;
    std::optional<Bytes> image_;
};

}  // namespace quenbril
