#include "MonitorApp/settings/Player.h"

#include "MonitorApp/settings/DropImageHere.h"

namespace quenbril {

Player::Player(const Dictionary& d)
    : name_(d["Name"].optionalString()),
      roleName_(d["RoleName"].optionalString()),
      comments_(d["Comments"].optionalString()) {
    if (const Bytes* image = d["Image"].dataValue()) {
        image_ = *image;
    }
}

std::string Player::displayName() const {
    std::string name = name_.value_or("");
    if (roleName_ && !roleName_->empty()) {
        return name + " as " + *roleName_;
    }
    return name;
}

Dictionary Player::propertyDic() {
    if (!name_) name_ = "";
    if (!comments_) comments_ = "";
    if (!roleName_) roleName_ = "";
    if (!image_) image_ = dropImageHere();
    return Dictionary{
        {"Name", *name_},
        {"RoleName", *roleName_},
        {"Image", *image_},
        {"Comments", *comments_},
    };
}

const Bytes& Player::dropImageHere() {
    static const Bytes bytes(kDropImageHereTiff, kDropImageHereTiff + kDropImageHereTiffSize);
    return bytes;
}

}  // namespace quenbril
