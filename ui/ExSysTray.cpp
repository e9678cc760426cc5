#include "ExSysTray.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

TExSysTray::TExSysTray(QObject* parent) : QObject(parent), timer_(new QTimer(this)) {
    timer_->setInterval(interval_);
    connect(timer_, &QTimer::timeout, this, &TExSysTray::Step);
}

TExSysTray::~TExSysTray() {
    timer_->stop();
    delete tray_;
}

bool TExSysTray::Available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TExSysTray::SetIcon(const QIcon& icon) {
    icon_ = icon;
    Update();
}

void TExSysTray::SetHint(const QString& hint) {
    hint_ = hint.left(kMaxHint);
    Update();
}

void TExSysTray::SetActive(bool active) {
    leftDown_ = rightDown_ = false;
    active_ = active;
    Update();
}

void TExSysTray::SetImages(const QVector<QIcon>& frames) {
    images_ = frames;
    Update();
}

void TExSysTray::SetAnimated(bool animated) {
    animated_ = animated;
    if (animated)
        timer_->start(interval_);
    else
        timer_->stop();
    frame_ = 0;
    Update();
}

void TExSysTray::SetAnimateMode(AnimateMode mode) {
    if (animated_) SetAnimated(false);
    mode_ = mode;
}

void TExSysTray::SetInterval(int ms) {
    interval_ = ms;
    if (timer_->isActive()) timer_->start(ms);
}

void TExSysTray::Step() {
    if (!animated_) return;
    ++frame_;
    if (images_.isEmpty() || frame_ >= images_.size()) frame_ = 0;
    Update();
}

QIcon TExSysTray::ShownIcon() const {
    if (animated_ && !images_.isEmpty())
        return images_.value(frame_ >= 0 && frame_ < images_.size() ? frame_ : 0);
    return icon_;
}

void TExSysTray::Update() {
    const QIcon show = ShownIcon();
    if (shown_) {
        if (show.isNull() || !active_) {
            tray_->hide();
            shown_ = false;
        } else {
            tray_->setIcon(show);
            tray_->setToolTip(hint_);
        }
        return;
    }
    if (show.isNull() || !active_) return;
    if (!tray_) {
        tray_ = new QSystemTrayIcon;
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) {
                    if (r == QSystemTrayIcon::DoubleClick) DoubleClick(Qt::LeftButton);
                    if (r == QSystemTrayIcon::Trigger) {
                        MouseDown(Qt::LeftButton);
                        MouseUp(Qt::LeftButton);
                    }
                    if (r == QSystemTrayIcon::Context) {
                        MouseDown(Qt::RightButton);
                        MouseUp(Qt::RightButton);
                    }
                    if (r == QSystemTrayIcon::MiddleClick) {
                        MouseDown(Qt::MiddleButton);
                        MouseUp(Qt::MiddleButton);
                    }
                });
    }
    tray_->setIcon(show);
    tray_->setToolTip(hint_);
    tray_->show();
    shown_ = true;
}

void TExSysTray::MouseDown(Qt::MouseButton button, bool doubleClick) {
    if (!enabled_) return;
    if (button == Qt::LeftButton && !doubleClick) leftDown_ = true;
    if (button == Qt::RightButton && !doubleClick) rightDown_ = true;
    emit IconMouseDown(button, doubleClick);
    if (doubleClick) return;
    if ((button == Qt::LeftButton && (popupMode_ & pmLeftClick)) ||
        (button == Qt::RightButton && (popupMode_ & pmRightClick)))
        Popup();
}

void TExSysTray::MouseUp(Qt::MouseButton button) {
    if (!enabled_) return;
    bool* flag = button == Qt::LeftButton ? &leftDown_ : button == Qt::RightButton ? &rightDown_ : nullptr;
    if (flag && *flag) {
        *flag = false;
        emit IconClick(button);
    }
    emit IconMouseUp(button);
}

void TExSysTray::DoubleClick(Qt::MouseButton button) {
    if (!enabled_) return;
    emit IconDblClick();
    MouseDown(button, true);
}

void TExSysTray::Popup() {
    if (!menu_) return;
    emit PopupRequested();
    menu_->popup(QCursor::pos());
}
