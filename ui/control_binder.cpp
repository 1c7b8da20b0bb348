#include "control_binder.hpp"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>
#include <stdexcept>
#include "text/text_table.hpp"
#include "overloaded.hpp"

namespace velkor::ui {

namespace {

// A widget's own visibility and enabled flags, not those it inherits from
// its parents (a page that is not current must not look "changed").
void ShowAs(QWidget* widget, bool visible) {
  if (widget->isHidden() == visible) widget->setVisible(visible);
}

void EnableAs(QWidget* widget, bool enabled) {
  if (widget->testAttribute(Qt::WA_ForceDisabled) == enabled) widget->setEnabled(enabled);
}

void ShowState(QWidget* widget, const Control& state) {
  ShowAs(widget, state.Visible);
  EnableAs(widget, state.Usable());
}

void SetText(QAbstractButton* button, const QString& text) {
  if (button->text() != text) button->setText(text);
}

void SetToolTip(QWidget* widget, const QString& tip) {
  if (widget->toolTip() != tip) widget->setToolTip(tip);
}

// The result panel's text size: legible from a step away at a bench.
constexpr int kResultPointSize = 24;

QString ResultStyle(ResultState state) {
  struct Look {
    ResultState state;
    const char* background;
    const char* text;
  };
  static constexpr Look kLooks[] = {
      {ResultState::Neutral, "#f3f3f3", "#303030"},
      {ResultState::Pass, "#1e8e3e", "#ffffff"},
      {ResultState::Fail, "#d0302a", "#ffffff"},
      {ResultState::Stopped, "#c8c8c8", "#303030"},
  };
  const Look* look = &kLooks[0];
  for (const Look& l : kLooks)
    if (l.state == state) look = &l;
  return QString("QLabel { border: 1px solid #8c8c8c; border-radius: 4px; background: %1; color: %2; }")
      .arg(look->background, look->text);
}

QString GaugeStyle(GaugeColour colour) {
  const char* chunk = colour == GaugeColour::Red ? "#d0302a" : colour == GaugeColour::Grey ? "#8c8c8c" : "#2a62c9";
  return QString(
             "QProgressBar { border: 1px solid #8c8c8c; border-radius: 3px; background: #f3f3f3; text-align: center; }"
             "QProgressBar::chunk { background-color: %1; }")
      .arg(chunk);
}

}  // namespace

QString QtText(const std::string& text) { return QString::fromStdString(text); }

QString ShownText(const std::string& text) {
  const std::string_view shown = Tx(std::string_view(text));
  return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

ControlBinder::ControlBinder(std::vector<NamedControl> controls, CommandRunner run, QObject* parent)
    : QObject(parent), controls_(std::move(controls)), run_(std::move(run)) {}

void ControlBinder::OnInput(const std::string& name, std::function<void()> handler) {
  handlers_[name] = std::move(handler);
}

void ControlBinder::RunHandler(const std::string& name) { Pressed(name); }

template <typename T>
T* ControlBinder::State(const char* name) const {
  for (const NamedControl& control : controls_) {
    if (std::string_view(control.name) != name) continue;
    if (T* const* state = std::get_if<T*>(&control.control)) return *state;
    throw std::logic_error(std::string("control ") + name + " is of another kind");
  }
  throw std::logic_error(std::string("no control named ") + name);
}

ControlBinder::Binding& ControlBinder::Bind(const char* name, QObject* object) {
  auto found = std::find_if(controls_.begin(), controls_.end(),
                            [&](const NamedControl& control) { return std::string_view(control.name) == name; });
  if (found == controls_.end()) throw std::logic_error(std::string("no control named ") + name);
  if (bindings_.count(name) != 0) throw std::logic_error(std::string("control bound twice: ") + name);
  object->setObjectName(name);
  Binding& binding = bindings_[name];
  binding.control = found->control;
  binding.object = object;
  return binding;
}

void ControlBinder::Input(const std::string& name, const std::function<void()>& apply) {
  apply();
  auto handler = handlers_.find(name);
  if (handler != handlers_.end()) run_(handler->second);
}

void ControlBinder::Pressed(const std::string& name) {
  auto handler = handlers_.find(name);
  if (handler != handlers_.end()) run_(handler->second);
}

QToolButton* ControlBinder::ToolButton(const char* name, QStyle::StandardPixmap icon, QWidget* parent) {
  State<ButtonControl>(name);
  auto* button = new QToolButton(parent);
  button->setIcon(QApplication::style()->standardIcon(icon));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  Binding& binding = Bind(name, button);
  connect(button, &QToolButton::clicked, this, [this, key = std::string(name)] { Pressed(key); });
  SyncBinding(binding);
  return button;
}

QPushButton* ControlBinder::PushButton(const char* name, QWidget* parent) {
  State<ButtonControl>(name);
  auto* button = new QPushButton(parent);
  button->setAutoDefault(false);
  Binding& binding = Bind(name, button);
  connect(button, &QPushButton::clicked, this, [this, key = std::string(name)] { Pressed(key); });
  SyncBinding(binding);
  return button;
}

QAction* ControlBinder::Action(const char* name, QObject* parent) {
  State<ButtonControl>(name);
  auto* action = new QAction(parent);
  Binding& binding = Bind(name, action);
  connect(action, &QAction::triggered, this, [this, key = std::string(name)] { Pressed(key); });
  SyncBinding(binding);
  return action;
}

QCheckBox* ControlBinder::CheckBox(const char* name, QWidget* parent) {
  CheckControl* state = State<CheckControl>(name);
  auto* box = new QCheckBox(parent);
  Binding& binding = Bind(name, box);
  connect(box, &QCheckBox::toggled, this,
          [this, state, key = std::string(name)](bool checked) { Input(key, [=] { state->Checked = checked; }); });
  SyncBinding(binding);
  return box;
}

QLabel* ControlBinder::Label(const char* name, QWidget* parent) {
  State<LabelControl>(name);
  auto* label = new QLabel(parent);
  SyncBinding(Bind(name, label));
  return label;
}

QLineEdit* ControlBinder::Edit(const char* name, QWidget* parent) {
  EditControl* state = State<EditControl>(name);
  auto* edit = new QLineEdit(parent);
  Binding& binding = Bind(name, edit);
  connect(edit, &QLineEdit::textChanged, this, [this, state, key = std::string(name)](const QString& text) {
    Input(key, [=] { state->Text = text.toStdString(); });
  });
  SyncBinding(binding);
  return edit;
}

QGroupBox* ControlBinder::RadioGroup(const char* name, QWidget* parent) {
  RadioGroupControl* state = State<RadioGroupControl>(name);
  auto* box = new QGroupBox(parent);
  new QGridLayout(box);
  auto* group = new QButtonGroup(box);
  Binding& binding = Bind(name, box);
  binding.radios = group;
  connect(group, &QButtonGroup::idToggled, this, [this, state, key = std::string(name)](int id, bool checked) {
    if (checked) Input(key, [=] { state->ItemIndex = id; });
  });
  SyncBinding(binding);
  return box;
}

QComboBox* ControlBinder::Combo(const char* name, QWidget* parent) {
  ComboControl* state = State<ComboControl>(name);
  auto* combo = new QComboBox(parent);
  Binding& binding = Bind(name, combo);
  connect(combo, &QComboBox::currentIndexChanged, this,
          [this, state, key = std::string(name)](int index) { Input(key, [=] { state->ItemIndex = index; }); });
  SyncBinding(binding);
  return combo;
}

QSpinBox* ControlBinder::Spin(const char* name, QWidget* parent) {
  SpinControl* state = State<SpinControl>(name);
  auto* spin = new QSpinBox(parent);
  Binding& binding = Bind(name, spin);
  connect(spin, &QSpinBox::valueChanged, this,
          [this, state, key = std::string(name)](int value) { Input(key, [=] { state->Value = value; }); });
  SyncBinding(binding);
  return spin;
}

QGroupBox* ControlBinder::GroupBox(const char* name, QWidget* parent) {
  State<PageControl>(name);
  auto* box = new QGroupBox(parent);
  SyncBinding(Bind(name, box));
  return box;
}

QProgressBar* ControlBinder::Gauge(const char* name, QWidget* parent) {
  State<GaugeControl>(name);
  auto* bar = new QProgressBar(parent);
  bar->setMinimum(0);
  bar->setFormat("%p%");
  bar->setTextVisible(true);
  SyncBinding(Bind(name, bar));
  return bar;
}

QLabel* ControlBinder::ResultPanel(const char* name, QWidget* parent) {
  State<ResultControl>(name);
  auto* panel = new QLabel(parent);
  QFont font = panel->font();
  font.setPointSize(kResultPointSize);
  font.setBold(true);
  panel->setFont(font);
  panel->setAlignment(Qt::AlignCenter);
  // As wide and high as the longest caption needs, so that the layout
  // stays put whatever the panel says.
  const QFontMetrics metrics(font);
  int widest = 0;
  for (const ResultState state : {ResultState::Pass, ResultState::Fail, ResultState::Stopped}) {
    ResultControl probe;
    probe.Show(state);
    widest = std::max(widest, metrics.horizontalAdvance(ShownText(probe.Caption)));
  }
  panel->setMinimumSize(widest + metrics.averageCharWidth(), metrics.height() + metrics.height() / 4);
  SyncBinding(Bind(name, panel));
  return panel;
}

QWidget* ControlBinder::Page(const char* name, QTabWidget* tabs) {
  PageControl* state = State<PageControl>(name);
  auto* page = new QWidget;
  tabs->addTab(page, ShownText(state->Caption));
  Binding& binding = Bind(name, page);
  binding.tabs = tabs;
  SyncBinding(binding);
  return page;
}

QLabel* ControlBinder::CompanionLabel(const char* name, QWidget* parent) {
  auto found = bindings_.find(name);
  if (found == bindings_.end()) throw std::logic_error(std::string("label for an unbound control: ") + name);
  auto* label = new QLabel(parent);
  label->setObjectName(QString(name) + "Label");
  found->second.companion = label;
  SyncBinding(found->second);
  return label;
}

void ControlBinder::Sync() {
  for (auto& [name, binding] : bindings_) SyncBinding(binding);
}

QObject* ControlBinder::Find(const std::string& name) const {
  auto found = bindings_.find(name);
  return found == bindings_.end() ? nullptr : found->second.object;
}

std::vector<std::string> ControlBinder::Unbound() const {
  std::vector<std::string> names;
  for (const NamedControl& control : controls_)
    if (bindings_.count(control.name) == 0) names.emplace_back(control.name);
  return names;
}

void ControlBinder::SyncRadioButtons(Binding& binding, const RadioGroupControl& state) {
  QButtonGroup* group = binding.radios;
  auto* box = static_cast<QGroupBox*>(binding.object);
  const QList<QAbstractButton*> buttons = group->buttons();
  if (buttons.size() != static_cast<qsizetype>(state.Items.size())) {
    for (QAbstractButton* button : buttons) {
      group->removeButton(button);
      delete button;
    }
    // Items run down the first column, then down the next, as on the
    // programmer's panel.
    auto* grid = static_cast<QGridLayout*>(box->layout());
    const int count = static_cast<int>(state.Items.size());
    const int columns = std::max(1, state.Columns);
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
      auto* radio = new QRadioButton(box);
      radio->setObjectName(QString("%1Item%2").arg(box->objectName()).arg(i));
      group->addButton(radio, i);
      grid->addWidget(radio, i % rows, i / rows);
    }
  }
  for (int i = 0; i < static_cast<int>(state.Items.size()); ++i)
    SetText(group->button(i), ShownText(state.Items[static_cast<std::size_t>(i)]));
  QAbstractButton* chosen = group->button(state.ItemIndex);
  if (chosen != nullptr) {
    if (!chosen->isChecked()) chosen->setChecked(true);
  } else if (group->checkedButton() != nullptr) {
    // No item chosen: an exclusive group cannot show that.
    group->setExclusive(false);
    group->checkedButton()->setChecked(false);
    group->setExclusive(true);
  }
}

void ControlBinder::SyncBinding(Binding& binding) {
  QObject* object = binding.object;
  const QSignalBlocker blockObject(object);
  std::visit(
      Overloaded{
          [&](ButtonControl* state) {
            const QString caption = ShownText(state->Caption);
            const QString hint = ShownText(state->Hint);
            if (auto* action = qobject_cast<QAction*>(object)) {
              if (action->text() != caption) action->setText(caption);
              const QKeySequence shortcut = QKeySequence::fromString(QtText(state->Shortcut), QKeySequence::PortableText);
              if (action->shortcut() != shortcut) action->setShortcut(shortcut);
              if (action->toolTip() != hint && !hint.isEmpty()) action->setToolTip(hint);
              if (action->isVisible() != state->Visible) action->setVisible(state->Visible);
              // A hidden action reads as disabled whatever it was set to.
              if (action->isVisible() && action->isEnabled() != state->Usable()) action->setEnabled(state->Usable());
            } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
              SetText(button, caption);
              SetToolTip(button, hint);
              // A hidden tool button keeps its place in the tool bar; like a
              // hidden menu item it must not be pressable there.
              ShowAs(button, state->Visible);
              EnableAs(button, state->Visible && state->Usable());
            }
          },
          [&](CheckControl* state) {
            auto* box = static_cast<QCheckBox*>(object);
            SetText(box, ShownText(state->Caption));
            SetToolTip(box, ShownText(state->Hint));
            if (box->isChecked() != state->Checked) box->setChecked(state->Checked);
            ShowState(box, *state);
          },
          [&](LabelControl* state) {
            auto* label = static_cast<QLabel*>(object);
            const QString caption = ShownText(state->Caption);
            if (label->text() != caption) label->setText(caption);
            SetToolTip(label, ShownText(state->Hint));
            ShowState(label, *state);
          },
          [&](EditControl* state) {
            auto* edit = static_cast<QLineEdit*>(object);
            const int maxLength = state->MaxLength > 0 ? state->MaxLength : 32767;
            if (edit->maxLength() != maxLength) edit->setMaxLength(maxLength);
            // The text of a box the operator cannot change is the program's own (a
            // prompt); what the operator typed is shown as typed.
            const QString text = state->ReadOnly ? ShownText(state->Text) : QtText(state->Text);
            if (edit->text() != text) edit->setText(text);
            if (edit->isReadOnly() != state->ReadOnly) edit->setReadOnly(state->ReadOnly);
            SetToolTip(edit, ShownText(state->Hint));
            ShowState(edit, *state);
            if (binding.companion != nullptr) {
              const QString label = ShownText(state->Label);
              if (binding.companion->text() != label) binding.companion->setText(label);
              ShowState(binding.companion, *state);
            }
          },
          [&](RadioGroupControl* state) {
            auto* box = static_cast<QGroupBox*>(object);
            const QString caption = ShownText(state->Caption);
            if (box->title() != caption) box->setTitle(caption);
            const QSignalBlocker blockGroup(binding.radios);
            SyncRadioButtons(binding, *state);
            ShowState(box, *state);
          },
          [&](ComboControl* state) {
            auto* combo = static_cast<QComboBox*>(object);
            bool same = combo->count() == static_cast<int>(state->Items.size());
            for (int i = 0; same && i < combo->count(); ++i)
              same = combo->itemText(i) == ShownText(state->Items[static_cast<std::size_t>(i)]);
            if (!same) {
              combo->clear();
              for (const std::string& item : state->Items) combo->addItem(ShownText(item));
            }
            const int index = state->ItemIndex < combo->count() ? state->ItemIndex : -1;
            if (combo->currentIndex() != index) combo->setCurrentIndex(index);
            if (combo->placeholderText() != ShownText(state->Text)) combo->setPlaceholderText(ShownText(state->Text));
            ShowState(combo, *state);
          },
          [&](SpinControl* state) {
            auto* spin = static_cast<QSpinBox*>(object);
            if (spin->minimum() != state->MinValue || spin->maximum() != state->MaxValue)
              spin->setRange(state->MinValue, state->MaxValue);
            if (spin->singleStep() != state->Increment) spin->setSingleStep(state->Increment);
            if (spin->value() != state->Value) spin->setValue(state->Value);
            ShowState(spin, *state);
            if (binding.companion != nullptr) {
              const QString label = ShownText(state->Label);
              if (binding.companion->text() != label) binding.companion->setText(label);
              ShowState(binding.companion, *state);
            }
          },
          [&](PageControl* state) {
            const QString caption = ShownText(state->Caption);
            if (binding.tabs != nullptr) {
              const int index = binding.tabs->indexOf(static_cast<QWidget*>(object));
              if (binding.tabs->tabText(index) != caption) binding.tabs->setTabText(index, caption);
              if (binding.tabs->isTabVisible(index) != state->Visible) binding.tabs->setTabVisible(index, state->Visible);
              if (binding.tabs->isTabEnabled(index) != state->Enabled) binding.tabs->setTabEnabled(index, state->Enabled);
            } else {
              auto* box = static_cast<QGroupBox*>(object);
              if (box->title() != caption) box->setTitle(caption);
              ShowState(box, *state);
            }
          },
          [&](GaugeControl* state) {
            auto* bar = static_cast<QProgressBar*>(object);
            const int maximum = std::max(1, state->MaxValue);
            if (bar->maximum() != maximum) bar->setMaximum(maximum);
            const int progress = std::clamp(state->Progress, 0, maximum);
            if (bar->value() != progress) bar->setValue(progress);
            const int colour = static_cast<int>(state->Colour);
            const QVariant shown = bar->property("gaugeColour");
            if (!shown.isValid() || shown.toInt() != colour) {
              bar->setProperty("gaugeColour", colour);
              bar->setStyleSheet(GaugeStyle(state->Colour));
            }
            ShowState(bar, *state);
          },
          [&](ResultControl* state) {
            auto* panel = static_cast<QLabel*>(object);
            const QString caption = ShownText(state->Caption);
            if (panel->text() != caption) panel->setText(caption);
            const int shownState = static_cast<int>(state->State);
            const QVariant shown = panel->property("resultState");
            if (!shown.isValid() || shown.toInt() != shownState) {
              panel->setProperty("resultState", shownState);
              panel->setStyleSheet(ResultStyle(state->State));
            }
            ShowState(panel, *state);
          },
      },
      binding.control);
}

}  // namespace velkor::ui
