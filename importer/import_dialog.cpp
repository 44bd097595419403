#include "importer/import_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <fstream>
#include <iterator>
#include <new>

namespace netrevia::importer {
namespace {

constexpr std::size_t kPreviewRecords = 12;
constexpr int kTypingPause = 250;  // milliseconds after the last key before reading again

// The values of the batch tool's options in the order of the lists' items after "detected".
const char* const kLayouts[] = {"wide", "dream", "long"};
const char* const kDelimiters[] = {"tab", "comma", "semicolon", "space"};
const char* const kOrientations[] = {"genes", "times"};
const char* const kScales[] = {"linear", "log2", "ln", "log10"};
const char* const kReplicates[] = {"mean", "courses"};

enum TimesFrom { kFromFile, kListed, kEvery };

QString quoted_argument(const std::string& argument) {
    const QString text = QString::fromStdString(argument);
    if (!text.isEmpty() && !text.contains(QRegularExpression(QStringLiteral("[\\s'\"\\\\$`]")))) {
        return text;
    }
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

QString blanks_removed(const QString& text) {
    return QString(text).remove(QRegularExpression(QStringLiteral("\\s")));
}

}  // namespace

ImportDialog::ImportDialog(const QString& file, const QString& data_file_problem, QWidget* parent)
    : QDialog(parent), file_(file), data_file_problem_(data_file_problem) {
    const std::string name = QFile::encodeName(file).toStdString();
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        text_problem_ = "file " + name + ": cannot be opened";
    } else {
        try {
            text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) text_problem_ = "file " + name + ": read error";
        } catch (const std::bad_alloc&) {
            text_.clear();
            text_problem_ = "file " + name + ": too large to read (insufficient virtual memory)";
        }
    }
    build();
    read_now();
}

void ImportDialog::build() {
    setWindowTitle(tr("Import an expression table"));
    setObjectName(QStringLiteral("import_dialog"));
    auto* top = new QVBoxLayout(this);

    auto* file_label = new QLabel(tr("<b>%1</b><br>in %2")
                                      .arg(QFileInfo(file_).fileName().toHtmlEscaped(),
                                           QFileInfo(file_).absolutePath().toHtmlEscaped()),
                                  this);
    file_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(file_label);
    if (!data_file_problem_.isEmpty()) {
        auto* note = new QLabel(
            tr("Not a data file (%1), so it is read as a table.").arg(data_file_problem_), this);
        note->setObjectName(QStringLiteral("data_file_note"));
        note->setTextFormat(Qt::PlainText);
        note->setWordWrap(true);
        note->setStyleSheet(QStringLiteral("color: #555555;"));
        top->addWidget(note);
    }

    auto* how = new QGroupBox(tr("How the table is read"), this);
    auto* form = new QFormLayout(how);
    const auto list = [this](const char* name, const QStringList& items, const QString& tip) {
        auto* box = new QComboBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->addItems(items);
        box->setToolTip(tip);
        connect(box, &QComboBox::currentIndexChanged, this, &ImportDialog::changed);
        return box;
    };
    layout_ = list("layout",
                   {tr("detected"), tr("wide: one course, genes or time points in rows"),
                    tr("DREAM: time points in rows, courses apart"),
                    tr("long: one value per row (gene, course, time, value)")},
                   tr("--table-layout"));
    delimiter_ =
        list("delimiter", {tr("detected"), tr("tab"), tr("comma"), tr("semicolon"), tr("blanks")},
             tr("--delimiter"));
    orientation_ = list("orientation", {tr("detected"), tr("genes"), tr("time points")},
                        tr("--orientation: what the rows of a wide table hold"));
    scale_ = list("scale",
                  {tr("not given (DREAM files are linear)"), tr("linear"), tr("log2"),
                   tr("natural log"), tr("log10")},
                  tr("--scale: what the values are; they are converted to log2"));
    form->addRow(tr("Layout:"), layout_);
    form->addRow(tr("Delimiter:"), delimiter_);
    form->addRow(tr("Rows hold:"), orientation_);
    form->addRow(tr("Values are:"), scale_);

    // Time points: from the file, listed, or evenly spaced.
    times_ = new QButtonGroup(this);
    auto* times_box = new QWidget(this);
    auto* times_rows = new QVBoxLayout(times_box);
    times_rows->setContentsMargins(0, 0, 0, 0);
    auto* from_file = new QRadioButton(tr("in the file (a time column or header)"), times_box);
    auto* listed = new QRadioButton(tr("listed:"), times_box);
    auto* every = new QRadioButton(tr("every"), times_box);
    from_file->setObjectName(QStringLiteral("times_from_file"));
    listed->setObjectName(QStringLiteral("times_listed"));
    every->setObjectName(QStringLiteral("times_every"));
    from_file->setChecked(true);
    times_->addButton(from_file, kFromFile);
    times_->addButton(listed, kListed);
    times_->addButton(every, kEvery);
    time_list_ = new QLineEdit(times_box);
    time_list_->setObjectName(QStringLiteral("times"));
    time_list_->setPlaceholderText(tr("0,50,100,..."));
    time_list_->setToolTip(tr("--times"));
    interval_ = new QLineEdit(times_box);
    interval_->setObjectName(QStringLiteral("interval"));
    interval_->setPlaceholderText(tr("say 50"));
    interval_->setToolTip(tr("--interval: the time between two points"));
    points_ = new QLineEdit(times_box);
    points_->setObjectName(QStringLiteral("points"));
    points_->setPlaceholderText(tr("say 21"));
    points_->setToolTip(tr("--points: time points per course"));
    times_rows->addWidget(from_file);
    auto* listed_row = new QHBoxLayout;
    listed_row->addWidget(listed);
    listed_row->addWidget(time_list_, 1);
    times_rows->addLayout(listed_row);
    auto* every_row = new QHBoxLayout;
    every_row->addWidget(every);
    every_row->addWidget(interval_);
    every_row->addWidget(new QLabel(tr("for"), times_box));
    every_row->addWidget(points_);
    every_row->addWidget(new QLabel(tr("points per course"), times_box));
    every_row->addStretch(1);
    times_rows->addLayout(every_row);
    form->addRow(tr("Time points:"), times_box);
    connect(times_, &QButtonGroup::idClicked, this, &ImportDialog::changed);

    courses_ = new QLineEdit(this);
    courses_->setObjectName(QStringLiteral("courses"));
    courses_->setPlaceholderText(tr("all, or pick some: 1,3-4"));
    courses_->setToolTip(tr("--courses, counted from 1"));
    form->addRow(tr("Courses:"), courses_);
    replicates_ = list("replicates",
                       {tr("none expected (a table with replicates is refused)"),
                        tr("averaged at each time point"), tr("each a course of its own")},
                       tr("--replicates: what becomes of two values for the same course and "
                          "time point (a replicate column, or a time point given twice)"));
    form->addRow(tr("Replicates:"), replicates_);

    auto* floor_row = new QHBoxLayout;
    floor_ = new QCheckBox(tr("replace values of 0 or below by"), this);
    floor_->setObjectName(QStringLiteral("floor"));
    floor_->setToolTip(tr("--floor: linear values of 0 or below have no logarithm"));
    floor_value_ = new QLineEdit(QStringLiteral("0.001"), this);
    floor_value_->setObjectName(QStringLiteral("floor_value"));
    floor_row->addWidget(floor_);
    floor_row->addWidget(floor_value_);
    floor_row->addStretch(1);
    form->addRow(tr("Floor:"), floor_row);
    fill_ = new QCheckBox(tr("fill missing values linearly in time within a course"), this);
    fill_->setObjectName(QStringLiteral("fill"));
    fill_->setToolTip(tr("--fill interpolate"));
    form->addRow(tr("Missing:"), fill_);
    connect(floor_, &QCheckBox::toggled, this, &ImportDialog::changed);
    connect(fill_, &QCheckBox::toggled, this, &ImportDialog::changed);
    top->addWidget(how);

    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(kTypingPause);
    connect(typing_, &QTimer::timeout, this, &ImportDialog::read_now);
    for (QLineEdit* edit : {time_list_, interval_, points_, courses_, floor_value_}) {
        connect(edit, &QLineEdit::textEdited, this, &ImportDialog::text_changed);
    }

    found_ = new QLabel(this);
    found_->setObjectName(QStringLiteral("found"));
    found_->setTextFormat(Qt::PlainText);
    found_->setWordWrap(true);
    top->addWidget(found_);
    problem_ = new QLabel(this);
    problem_->setObjectName(QStringLiteral("problem"));
    problem_->setTextFormat(Qt::PlainText);
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->setStyleSheet(QStringLiteral("color: #b00000;"));
    top->addWidget(problem_);

    view_ = new QTableView(this);
    view_->setObjectName(QStringLiteral("preview"));
    view_->setModel(&preview_);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionMode(QAbstractItemView::NoSelection);
    // Wide enough for the ten significant digits tables often carry ("-0.018662357"), rather
    // than eliding them to "2....".
    view_->horizontalHeader()->setDefaultSectionSize(
        view_->fontMetrics().horizontalAdvance(QStringLiteral("-0.0000000000")) + 12);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    view_->setMinimumHeight(7 * (view_->fontMetrics().height() + 6));
    top->addWidget(
        new QLabel(tr("The first lines, numbered as the file's lines and fields:"), this));
    top->addWidget(view_, 1);

    command_ = new QLabel(this);
    command_->setObjectName(QStringLiteral("command"));
    command_->setTextFormat(Qt::PlainText);
    command_->setWordWrap(true);
    command_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    command_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    top->addWidget(command_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    use_ = buttons->button(QDialogButtonBox::Ok);
    use_->setText(tr("&Use this table"));
    use_->setObjectName(QStringLiteral("use"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ImportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ImportDialog::reject);
    top->addWidget(buttons);
    resize(760, 720);
}

std::vector<std::string> ImportDialog::arguments() const {
    std::vector<std::string> args;
    const auto add = [&args](const char* name, const QString& value) {
        args.emplace_back(name);
        args.push_back(value.toStdString());
    };
    if (layout_->currentIndex() > 0) add("--table-layout", kLayouts[layout_->currentIndex() - 1]);
    if (delimiter_->currentIndex() > 0) {
        add("--delimiter", kDelimiters[delimiter_->currentIndex() - 1]);
    }
    if (orientation_->isEnabled() && orientation_->currentIndex() > 0) {
        add("--orientation", kOrientations[orientation_->currentIndex() - 1]);
    }
    if (scale_->currentIndex() > 0) add("--scale", kScales[scale_->currentIndex() - 1]);
    switch (times_->checkedId()) {
        case kListed:
            add("--times", blanks_removed(time_list_->text()));
            break;
        case kEvery:
            add("--interval", interval_->text().trimmed());
            add("--points", points_->text().trimmed());
            break;
        default:
            break;
    }
    if (replicates_->currentIndex() > 0) {
        add("--replicates", kReplicates[replicates_->currentIndex() - 1]);
    }
    if (!blanks_removed(courses_->text()).isEmpty()) {
        add("--courses", blanks_removed(courses_->text()));
    }
    if (floor_->isChecked()) add("--floor", floor_value_->text().trimmed());
    if (fill_->isChecked()) add("--fill", QStringLiteral("interpolate"));
    return args;
}

void ImportDialog::changed() {
    typing_->stop();
    read_now();
}

void ImportDialog::text_changed() {
    // The text is read after a pause, or by accept() at once; a refusal keeps the dialog open.
    typing_->start();
    use_->setEnabled(true);
}

void ImportDialog::read_now() {
    typing_->stop();
    const std::vector<std::string> args = arguments();
    TableReading reading;
    if (text_problem_.empty()) {
        reading = read_table(QFile::encodeName(file_).toStdString(), text_, args);
    } else {
        reading.problem = text_problem_;
    }
    show_reading(reading);
    reading_ = std::move(reading);
}

void ImportDialog::show_reading(const TableReading& reading) {
    // The detected values stand in the first item of each list.
    if (reading.format) {
        const table::TableFormat& f = *reading.format;
        static const char* const layouts[] = {"detected", "detected: wide", "detected: DREAM",
                                              "detected: long"};
        layout_->setItemText(0, tr(layouts[static_cast<int>(f.layout)]));
        const QString delimiter = f.delimiter == '\t'  ? tr("tab")
                                  : f.delimiter == ',' ? tr("comma")
                                  : f.delimiter == ';' ? tr("semicolon")
                                  : f.delimiter == ' ' ? tr("blanks")
                                                       : QString(QLatin1Char(f.delimiter));
        delimiter_->setItemText(0, tr("detected: %1").arg(delimiter));
        orientation_->setItemText(
            0, f.orientation == table::Orientation::kTimesInRows   ? tr("detected: time points")
               : f.orientation == table::Orientation::kGenesInRows ? tr("detected: genes")
                                                                   : tr("detected"));
        orientation_->setEnabled(f.layout == table::Layout::kWide);
    }
    const char delimiter = reading.format ? reading.format->delimiter : ',';
    try {
        preview_.set_records(table::preview_records(QFile::encodeName(file_).toStdString(), text_,
                                                    delimiter, kPreviewRecords));
    } catch (const table::TableError&) {
        preview_.set_records({});
    }

    if (reading.tables) {
        const TableChoice choice = make_choice(arguments(), reading);
        const table::ExpressionSet& set = reading.tables->set;
        QString found =
            tr("Found: %1 (%2); values %3, converted to log2")
                .arg(QString::fromStdString(describe_contents(choice.genes, choice.time_points)),
                     QString::fromStdString(choice.format),
                     QString::fromUtf8(table::scale_name(set.scale).data()));
        if (const std::string replicates = table::replicates_text(set); !replicates.empty())
            found += QStringLiteral("; ") + QString::fromStdString(replicates);
        if (set.floored > 0) found += tr("; %1 values floored").arg(set.floored);
        if (set.filled > 0) found += tr("; %1 values filled").arg(set.filled);
        found += QLatin1Char('.');
        for (const std::string& note : reading.tables->renamed) {
            found += QLatin1Char('\n') + QString::fromStdString(note) +
                     tr("; the results name them as shown.");
        }
        found_->setText(found);
        found_->setStyleSheet(QStringLiteral("color: #006000;"));
        problem_->clear();
        preview_.mark_cell(0, 0);
    } else {
        QString found = tr("Not read: the table is refused.");
        // Without a time column a DREAM file looks like a table of time points in rows whose
        // first gene is the time; the reader cannot tell, the user can. A header that names a
        // time column ("time", "time_min"; beside course and replicate columns it need not be
        // the first) has one.
        bool names_time = preview_.rowCount() == 0;
        for (int c = 0; c < preview_.columnCount() && !names_time; ++c) {
            const QString cell = preview_.data(preview_.index(0, c)).toString().toLower();
            names_time =
                cell == QStringLiteral("time") || (cell.startsWith(QStringLiteral("time")) &&
                                                   !(cell.size() > 4 && cell.at(4).isLetter()));
        }
        if (reading.format && reading.format->layout == table::Layout::kWide &&
            reading.format->orientation == table::Orientation::kTimesInRows && !names_time) {
            found +=
                tr(" Its rows look like time points, but the first column is no time: if "
                   "the file has no time column (as DREAM files may), give the time points "
                   "above.");
        }
        found_->setText(found);
        found_->setStyleSheet(QString());
        problem_->setText(QString::fromStdString(reading.problem));
        // The cell the message names, when the preview shows it.
        const QRegularExpressionMatch place =
            QRegularExpression(QStringLiteral("line (\\d+), column (\\d+)"))
                .match(QString::fromStdString(reading.problem));
        if (place.hasMatch()) {
            const long long line = place.captured(1).toLongLong();
            const int column = place.captured(2).toInt();
            preview_.mark_cell(line, column);
            const int row = preview_.row_of_line(line);
            if (row >= 0) view_->scrollTo(preview_.index(row, std::max(0, column - 1)));
        } else {
            preview_.mark_cell(0, 0);
        }
    }
    QString command = QStringLiteral("netrevia-batch");
    for (const std::string& argument : arguments()) {
        command += QLatin1Char(' ') + quoted_argument(argument);
    }
    command_->setText(tr("The same with the batch tool: %1 %2")
                          .arg(command, quoted_argument(QFile::encodeName(file_).toStdString())));
    use_->setEnabled(reading.tables.has_value());
}

void ImportDialog::accept() {
    if (typing_->isActive()) read_now();
    if (!reading_ || !reading_->tables) return;  // refused: the dialog stays open
    choice_ = make_choice(arguments(), *reading_);
    QDialog::accept();
}

std::optional<TableChoice> choose_table(QWidget* parent,
                                        const QString& file,
                                        const QString& data_file_problem) {
    ImportDialog dialog(file, data_file_problem, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.choice();
}

}  // namespace netrevia::importer
