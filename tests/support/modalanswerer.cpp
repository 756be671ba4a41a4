// SPDX-License-Identifier: GPL-3.0-or-later
#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {
constexpr int kPollMs = 20;
}

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::answer);
    timer.start(kPollMs);
}

void ModalAnswerer::answer()
{
    if (paused)
        return;
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal) {
        // Offscreen, a box may be modal without being the active one yet.
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && (qobject_cast<QMessageBox *>(w) || qobject_cast<QFileDialog *>(w)))
                modal = w;
        }
    }
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        Box seen{box->windowTitle(), box->text(), box->icon() == QMessageBox::Warning, box->informativeText()};
        if (box != lastSeen) {
            boxes.append(seen);
            lastSeen = box;
            if (onBox)
                onBox(seen);
        }
        // onBox may ask to leave this one open for a while.
        if (paused)
            return;
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        for (QAbstractButton *button : box->buttons()) {
            if (!choice.isEmpty() && button->text() == choice)
                ok = button;
        }
        if (ok)
            ok->click();
        else
            box->accept();
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        ++fileDialogs;
        if (nextFile.isEmpty()) {
            dialog->reject();
        } else {
            // Typed into the name field, as a user would: a selection in the
            // view is lost while the folder is still being read.
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(nextFile);
            else
                dialog->selectFile(nextFile);
            QMetaObject::invokeMethod(dialog, "accept");
        }
    }
}

bool ModalAnswerer::sawBox(const QString &title) const
{
    for (const Box &b : boxes) {
        if (b.title == title)
            return true;
    }
    return false;
}

QStringList ModalAnswerer::texts() const
{
    QStringList list;
    for (const Box &b : boxes)
        list << b.text;
    return list;
}
