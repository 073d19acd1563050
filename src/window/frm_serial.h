#pragma once

// The window: a view over the loader (loader/loader.h, where the map of the
// controls, their handlers and the handlers' files is). It builds the
// controls with their design values, passes every edit of an input and every
// click to the loader as it happens, and shows every change the loader
// announces.

#include <array>
#include <memory>

#include <QWidget>

#include "loader/loader.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vantrel {

class Lamp;
class VbalProgressBar;

class frmSerial : public QWidget {
    Q_OBJECT
  public:
    // A window over a loader of its own, on `platform`.
    explicit frmSerial(Platform platform, QWidget* parent = nullptr);
    ~frmSerial() override;

    // The loader the window shows.
    Loader& loader() const { return *loader_; }

    // --- Controls -------------------------------------------------------
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* Frame4 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    std::array<QLabel*, 1> Label1{};
    std::array<QLineEdit*, 1> txt{};
    QPushButton* BTNOpenCom = nullptr;
    QPushButton* BTNCloseCom = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QPushButton* Command6 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text8 = nullptr;
    QCheckBox* Check1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    Lamp* Pic = nullptr;
    VbalProgressBar* vbalProgressBar1 = nullptr;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void connectInputs();
    // Shows one value of one of the loader's controls.
    void showChange(const Control& control, Control::Property what);
    QWidget* widgetOf(const Control& control) const;

    std::unique_ptr<Loader> loader_;
};

// The desktop's real port, dialogs and sleep.
Platform makeDesktopPlatform();

}  // namespace vantrel
