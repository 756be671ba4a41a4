// SPDX-License-Identifier: GPL-3.0-or-later
// Answers the modal dialogs a window opens, the way a user would: message
// boxes are acknowledged (and recorded), file dialogs get the file the test
// chose or are cancelled.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <QString>
#include <QStringList>
#include <QTimer>

class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
        bool warning = false;
        QString informative; // the smaller text under the main one

    };

    explicit ModalAnswerer(QObject *parent = nullptr);

    // The next file dialog accepts this path; an empty path cancels it.
    void chooseFile(const QString &path) { nextFile = path; }
    // While paused, boxes stay open (to look at the window behind them).
    void setPaused(bool paused) { this->paused = paused; }

    QList<Box> boxes;
    int fileDialogs = 0;
    // A box with a button of this text is answered with it, as a user
    // choosing; others are acknowledged.
    QString choice;
    // Called once with each box, before it is answered; pausing there
    // leaves it open.
    std::function<void(const Box &)> onBox;

    bool sawBox(const QString &title) const;
    QStringList texts() const;

private:
    void answer();
    QTimer timer;
    QPointer<QWidget> lastSeen;
    QString nextFile;
    bool paused = false;
};
