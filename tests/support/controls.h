#pragma once

// The platform's controls, used as a person uses them: through their windows.

#include "platform/ui/components.h"
#include "platform/ui/control_widget_p.h"

#include <QAbstractButton>

namespace test {

inline void Click(TButton* button) {
    static_cast<QAbstractButton*>(WidgetOf(*button).widget.data())->click();
}

} // namespace test
