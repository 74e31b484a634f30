#pragma once

// Private to the platform: the Qt side of the controls.

#include "platform/core/ansi_string.h"
#include "platform/ui/components.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

// The window of a control. Its Qt parent owns the widget, so a control only watches it.
struct TControlWidget {
    explicit TControlWidget(QWidget* window) : widget(window) {}

    QPointer<QWidget> widget;
    // The receiver of the control's signal connections: it goes with the control, and Qt drops the
    // connections then, so a widget that outlives its control never calls into a deleted object.
    QObject context;
};

// The window of a control.
TControlWidget& WidgetOf(const TControl& control);

// The top-level window of a form.
class TFormWindow : public QWidget {
public:
    // poScreenCenter: the design position gives way to the screen's centre when the form is shown.
    bool centreOnShow = false;
    // Runs when the user or the program has closed the window.
    std::function<void()> onClosed;

protected:
    void closeEvent(QCloseEvent* event) override;
};

// Widgets and the objects that paint in them are the user-interface thread's alone.
void AssertUiThread();

inline QString ToQString(const AnsiString& text) {
    return QString::fromUtf8(text.str().data(), static_cast<qsizetype>(text.str().size()));
}

inline AnsiString FromQString(const QString& text) {
    return AnsiString(text.toUtf8().toStdString());
}

inline TFormWindow& FormWindow(const TForm& form) {
    return *static_cast<TFormWindow*>(WidgetOf(form).widget.data());
}
