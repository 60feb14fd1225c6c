#pragma once

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

class QButtonGroup;
class QHBoxLayout;

namespace quenbril {

/// A row of segments of which one at most is selected: the single chat window's recipient
/// ("All" or one user). The segments share the row's width, and none is narrower than its label
/// needs: a label is whole up to RecipientName::widest(), past which its middle is elided and its
/// tooltip gives it whole. Main thread only.
class ChatRecipientControl : public QWidget {
  public:
    explicit ChatRecipientControl(QWidget* parent = nullptr);

    /// Relabels the control with one segment per label. The selection stays on its label
    /// while that label remains (wherever its segment now is); otherwise the first segment is
    /// selected.
    void setLabels(const std::vector<std::string>& labels);
    const std::vector<std::string>& labels() const { return labels_; }
    int segmentCount() const;
    /// -1 when none is selected.
    int selectedSegment() const;
    void setSelectedSegment(int segment);
    /// The selected segment's label; none when no segment is selected.
    std::optional<std::string> selectedLabel() const;
    /// The button group that tells of the user's clicks on the segments.
    QButtonGroup* group() const { return group_; }

  private:
    QHBoxLayout* layout_;
    QButtonGroup* group_;
    std::vector<std::string> labels_;
};

}  // namespace quenbril
