#include "app/option_group.h"

#include <QButtonGroup>
#include <QEvent>
#include <QRadioButton>
#include <QVBoxLayout>

OptionGroup::OptionGroup(const QString& title, const QStringList& items, QWidget* parent)
    : QGroupBox(title, parent), m_group(new QButtonGroup(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 1, 2, 1);
    layout->setSpacing(0);
    for (int32_t i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        m_group->addButton(button, i);
        layout->addWidget(button);
        m_buttons.push_back(button);
        connect(button, &QRadioButton::toggled, this, [this, i](bool checked) { onButtonToggled(i, checked); });
    }
}

void OptionGroup::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    fitItemTexts();
}

void OptionGroup::changeEvent(QEvent* event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        fitItemTexts();
}

void OptionGroup::fitItemTexts()
{
    // Full-width item texts ("１２８０　Ｘ　１０２４") are wider than the
    // fixed box in most Japanese fonts; narrower letter spacing keeps them whole.
    const int available = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    for (QRadioButton* button : m_buttons) {
        QFont itemFont = font();
        for (qreal spacing = 100; spacing >= 80; spacing -= 2) {
            itemFont.setLetterSpacing(QFont::PercentageSpacing, spacing);
            button->setFont(itemFont);
            if (button->sizeHint().width() <= available)
                break;
        }
    }
}

void OptionGroup::setItemIndex(int32_t index)
{
    if (index < -1)
        index = -1;
    if (index >= count())
        index = count() - 1;
    if (index == m_index)
        return;
    if (index < 0) {
        // An exclusive group cannot uncheck its last button.
        m_group->setExclusive(false);
        m_buttons.at(static_cast<std::size_t>(m_index))->setChecked(false);
        m_group->setExclusive(true);
        m_index = -1;
        emit clicked();
        return;
    }
    m_buttons.at(static_cast<std::size_t>(index))->setChecked(true);
}

void OptionGroup::onButtonToggled(int32_t index, bool checked)
{
    if (!checked || index == m_index)
        return;
    m_index = index;
    emit clicked();
}
