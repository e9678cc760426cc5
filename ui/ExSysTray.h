#pragma once
#include <QIcon>
#include <QObject>
#include <QString>
#include <QVector>

class QMenu;
class QSystemTrayIcon;
class QTimer;

// The notification-area icon: a still icon or an animation of frames, a tooltip of at
// most 63 characters, a pop-up menu on the configured button, and mouse events. Present
// only while Active and there is an icon to show. Without a system tray nothing appears;
// Available() tells.
class TExSysTray : public QObject {
    Q_OBJECT
public:
    enum PopupButton { pmLeftClick = 1, pmRightClick = 2 };
    enum AnimateMode { amTimer, amThread };
    static constexpr int kMaxHint = 63;

    explicit TExSysTray(QObject* parent = nullptr);
    ~TExSysTray() override;

    void SetIcon(const QIcon& icon);
    QIcon Icon() const { return icon_; }
    void SetHint(const QString& hint);
    QString Hint() const { return hint_; }
    void SetActive(bool active);
    bool Active() const { return active_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    bool Enabled() const { return enabled_; }
    void SetPopupMenu(QMenu* menu) { menu_ = menu; }
    QMenu* PopupMenu() const { return menu_; }
    void SetPopupMode(int mode) { popupMode_ = mode; }
    int PopupMode() const { return popupMode_; }
    void SetImages(const QVector<QIcon>& frames);
    void SetAnimated(bool animated);
    bool Animated() const { return animated_; }
    // The thread mode is driven by the same window-thread timer: the frames change on the
    // window's thread either way.
    void SetAnimateMode(AnimateMode mode);
    void SetInterval(int ms);
    int Interval() const { return interval_; }
    int FrameIndex() const { return frame_; }

    // Whether the icon is in the notification area now, and what it shows.
    bool Shown() const { return shown_; }
    QIcon ShownIcon() const;
    static bool Available();

    // Mouse input on the icon as the tray reports it (also the tests' entry point).
    void MouseDown(Qt::MouseButton button, bool doubleClick = false);
    void MouseUp(Qt::MouseButton button);
    void DoubleClick(Qt::MouseButton button);
    void Step(); // one animation step

signals:
    void IconMouseDown(Qt::MouseButton button, bool doubleClick);
    void IconMouseUp(Qt::MouseButton button);
    void IconClick(Qt::MouseButton button);
    void IconDblClick();
    void PopupRequested(); // the menu is about to be shown

private:
    void Update();
    void Popup();

    QIcon icon_, frameIcon_;
    QString hint_ = "ExSysTray";
    bool active_ = false, enabled_ = true, animated_ = false, shown_ = false;
    bool leftDown_ = false, rightDown_ = false;
    QMenu* menu_ = nullptr;
    int popupMode_ = pmRightClick;
    QVector<QIcon> images_;
    AnimateMode mode_ = amTimer;
    int interval_ = 200;
    int frame_ = -1;
    QTimer* timer_;
    QSystemTrayIcon* tray_ = nullptr;
};
