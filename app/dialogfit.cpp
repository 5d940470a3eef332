#include "app/dialogfit.h"

#include <QGroupBox>
#include <QStyle>
#include <QStyleOptionGroupBox>

namespace korvel::app {

void fit_group_titles(QWidget *widget)
{
    for (QGroupBox *box : widget->findChildren<QGroupBox *>()) {
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        // The label starts inside the frame; as much again on the right keeps it clear of the frame's corner.
        const int needed = label.right() + label.left() + 1;
        if (box->minimumWidth() < needed)
            box->setMinimumWidth(needed);
    }
}

} // namespace korvel::app
