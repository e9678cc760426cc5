#pragma once
#include <QProxyStyle>

// The program's style: the platform's own, with tooltips that appear after 200 ms.
class TAppStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr, QStyleHintReturn* ret = nullptr) const override {
        if (hint == SH_ToolTip_WakeUpDelay) return 200;
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};
