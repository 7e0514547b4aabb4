#pragma once

#include <cstdint>
#include <vector>

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

// An option group (a framed set of radio buttons) addressed by item index,
// -1 meaning no item chosen. Setting the index from code follows the same
// rule as a click: below -1 becomes -1, at or above the item count becomes
// the last item, and only a change emits clicked().
class OptionGroup : public QGroupBox {
    Q_OBJECT
public:
    OptionGroup(const QString& title, const QStringList& items, QWidget* parent);

    int32_t itemIndex() const { return m_index; }
    void setItemIndex(int32_t index);
    int32_t count() const { return static_cast<int32_t>(m_buttons.size()); }
    QRadioButton* button(int32_t index) const { return m_buttons.at(static_cast<std::size_t>(index)); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

signals:
    // The chosen item changed, by the user or by setItemIndex.
    void clicked();

private:
    void onButtonToggled(int32_t index, bool checked);
    void fitItemTexts();

    std::vector<QRadioButton*> m_buttons;
    QButtonGroup* m_group = nullptr;
    int32_t m_index = -1;
};
