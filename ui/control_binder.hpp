// Binds widgets to the core's control state. Each widget is built here for
// one named control, carries the control's name as its object name, and is
// shown from that control's state by one routine (Sync). Operator input goes
// the other way: the new value is written into the state, then the control's
// handler, if it has one, runs as a command of the core.
#pragma once

#include <QObject>
#include <QStyle>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/controls.hpp"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QWidget;

namespace velkor::ui {

// Runs a handler of the core the way the window runs every command.
using CommandRunner = std::function<void(const std::function<void()>&)>;

class ControlBinder final : public QObject {
  Q_OBJECT

 public:
  ControlBinder(std::vector<NamedControl> controls, CommandRunner run, QObject* parent = nullptr);

  // The handler that runs after the operator pressed, toggled, chose or
  // typed into the control.
  void OnInput(const std::string& name, std::function<void()> handler);
  // Runs that handler, if any, as after the operator's input: for a value the
  // program put into the state that must take effect the same way.
  void RunHandler(const std::string& name);

  // Widgets for the named control. Each is created with the control's name
  // as object name and shown from the control's state at once.
  QToolButton* ToolButton(const char* name, QStyle::StandardPixmap icon, QWidget* parent);
  QPushButton* PushButton(const char* name, QWidget* parent);
  QAction* Action(const char* name, QObject* parent);
  QCheckBox* CheckBox(const char* name, QWidget* parent);
  QLabel* Label(const char* name, QWidget* parent);
  QLineEdit* Edit(const char* name, QWidget* parent);
  QGroupBox* RadioGroup(const char* name, QWidget* parent);
  QComboBox* Combo(const char* name, QWidget* parent);
  QSpinBox* Spin(const char* name, QWidget* parent);
  QGroupBox* GroupBox(const char* name, QWidget* parent);
  QProgressBar* Gauge(const char* name, QWidget* parent);
  // How a programmer's last operation ended: large bold text on the state's
  // colour, wide enough for every state's caption.
  QLabel* ResultPanel(const char* name, QWidget* parent);
  // A page of a tab widget: its caption, visibility and enabled state
  // follow the control. The page is appended to tabs.
  QWidget* Page(const char* name, QTabWidget* tabs);
  // The label beside an edit or spin box, showing the control's Label and
  // hidden with it. Named after the control with "Label" appended.
  QLabel* CompanionLabel(const char* name, QWidget* parent);

  // Shows every bound widget from its control's state. Only properties
  // that differ are set, with the widgets' signals blocked.
  void Sync();

  // The widget or action bound to the control, or null.
  QObject* Find(const std::string& name) const;
  // Controls of the state that have no widget.
  std::vector<std::string> Unbound() const;

 private:
  struct Binding {
    ControlRef control;
    QObject* object = nullptr;
    QLabel* companion = nullptr;
    QTabWidget* tabs = nullptr;        // for pages
    QButtonGroup* radios = nullptr;    // for radio groups
  };

  Binding& Bind(const char* name, QObject* object);
  template <typename T>
  T* State(const char* name) const;
  // The operator changed the control: apply the new value, then run its
  // handler and show the result.
  void Input(const std::string& name, const std::function<void()>& apply);
  void Pressed(const std::string& name);
  void SyncBinding(Binding& binding);
  void SyncRadioButtons(Binding& binding, const RadioGroupControl& state);

  std::vector<NamedControl> controls_;
  CommandRunner run_;
  std::map<std::string, Binding> bindings_;
  std::map<std::string, std::function<void()>> handlers_;
};

// The text of a control's state as Qt shows it.
QString QtText(const std::string& text);
// A text of the program (a caption, a hint, an item) in the language of the run.
QString ShownText(const std::string& text);

}  // namespace velkor::ui
