#pragma once

#include <QObject>

class QLineEdit;

namespace quenbril {

/// Makes Return insert a line break and Tab a tab character into an editable line field,
/// instead of ending the edit and moving the focus. Read-only fields keep the usual keys.
class FieldLineBreaks : public QObject {
  public:
    /// Installs itself on `field`, which owns it.
    static void install(QLineEdit* field);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    using QObject::QObject;
};

}  // namespace quenbril
