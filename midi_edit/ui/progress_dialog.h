#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace chwr {

// The small modeless window that "Apply" shows while it rewrites a file: the track
// being processed, a progress bar and a Cancel button.
//
// Cancel, the Escape key and the window's close button all hide the window and raise
// cancelRequested(); the run notices the request before its next event.
class Dialog : public QDialog {
    Q_OBJECT
public:
    explicit Dialog(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* CancelButton = nullptr;

    // Shows "Processing Track n ..." and the bar's value.
    void showProgress(int trackNumber, int percent);

public slots:
    void CancelButton_Click();
    void reject() override;

signals:
    void cancelRequested();
};

}  // namespace chwr
