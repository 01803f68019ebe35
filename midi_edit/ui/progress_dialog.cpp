#include "midi_edit/ui/progress_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace chwr {

Dialog::Dialog(QWidget* parent) : QDialog(parent)
{
    setObjectName("Dialog");
    setWindowTitle("Processing");
    setModal(false);

    Label1 = new QLabel("Applying changes to MIDI File...", this);
    Label1->setObjectName("Label1");
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    CancelButton = new QPushButton("Cancel", this);
    CancelButton->setObjectName("CancelButton");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ProgressBar1);
    layout->addLayout(buttons);
    setMinimumWidth(320);

    connect(CancelButton, &QPushButton::clicked, this, &Dialog::CancelButton_Click);
}

void Dialog::showProgress(int trackNumber, int percent)
{
    Label1->setText(QStringLiteral("Processing Track %1 ...").arg(trackNumber));
    ProgressBar1->setValue(percent);
}

void Dialog::CancelButton_Click()
{
    reject();
}

void Dialog::reject()
{
    QDialog::reject();
    emit cancelRequested();
}

}  // namespace chwr
