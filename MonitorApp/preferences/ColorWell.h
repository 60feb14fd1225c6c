#pragma once

#include <QPushButton>
#include <functional>
#include <optional>

#include "foundation/Value.h"

namespace quenbril {

/// A small button that shows one theme colour as a swatch; clicking it lets the user pick
/// another. The colour is kept as the theme stores it, so a colour that was not edited is
/// written back unchanged.
class ColorWell : public QPushButton {
  public:
    /// Asks the user for a colour, starting from `current`; none when the user cancelled.
    using Picker = std::function<std::optional<Color>(const Color& current, QWidget* parent)>;

    explicit ColorWell(QWidget* parent = nullptr);

    const Color& color() const { return color_; }
    void setColor(const Color& color);
    /// By default the picker is a modal colour dialog of the well's window; tests install one that
    /// answers at once.
    void setPicker(Picker picker) { picker_ = std::move(picker); }
    /// Runs the picker and takes its colour (what a click does).
    void pick();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Color color_;
    Picker picker_;
};

}  // namespace quenbril
