#include "app/srt_to_fcpxml_screen.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/app_context.h"
#include "app/background.h"
#include "app/dialogs.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/preferences.h"
#include "text/unicode.h"

namespace quillora {

namespace fs = std::filesystem;

namespace {

const QString kSrtFilter = "SRT 字幕 (*.srt *.SRT)";

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

std::vector<fs::path> srtFiles(const std::vector<fs::path>& files) {
    std::vector<fs::path> srt;
    for (const fs::path& file : files) {
        if (lowerExtension(file) == "srt") srt.push_back(file);
    }
    return srt;
}

struct BatchOutcome {
    int written = 0;
    int failed = 0;
};

}  // namespace

SrtToFcpxmlScreen::SrtToFcpxmlScreen(AppContext& context, QWidget* parent)
    : QWidget(parent), context_(context), settings_(FcpxmlSettings::load(context.preferences)) {
    setAcceptDrops(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* actions = new QHBoxLayout;
    auto* paste = new QPushButton("Paste SRT");
    auto* open = new QPushButton("打开 SRT文件");
    auto* batch = new QPushButton("批量处理 SRT文件");
    for (QPushButton* button : {paste, open, batch})
        actions->addWidget(button);
    actions->addStretch();
    layout->addLayout(actions);

    // The style settings, one control each, written to the preferences as they change.
    auto* settingsCard = new QFrame;
    settingsCard->setObjectName("Card");
    auto* grid = new QGridLayout(settingsCard);
    grid->setContentsMargins(16, 12, 16, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    int cell = 0;
    const auto place = [&](const QString& label, QWidget* control) {
        const int row = cell / 4;
        const int column = (cell % 4) * 2;
        auto* text = new QLabel(label);
        text->setObjectName("Secondary");
        grid->addWidget(text, row, column, Qt::AlignRight);
        grid->addWidget(control, row, column + 1);
        ++cell;
    };
    const auto picker = [&](const QString& label, std::string FcpxmlSettings::*field,
                            const QStringList& options) {
        auto* box = new QComboBox;
        box->addItems(options);
        const QString current = qt(settings_.*field);
        if (box->findText(current) < 0) box->addItem(current);
        box->setCurrentText(current);
        box->setObjectName(label);
        connect(box, &QComboBox::currentTextChanged, this,
                [this, field](const QString& value) { setSetting(field, value); });
        place(label, box);
    };
    const auto field = [&](const QString& label, std::string FcpxmlSettings::*member) {
        auto* edit = new QLineEdit(qt(settings_.*member));
        edit->setObjectName(label);
        edit->setMaximumWidth(110);
        connect(edit, &QLineEdit::textEdited, this,
                [this, member](const QString& value) { setSetting(member, value); });
        place(label, edit);
    };
    const auto options = [](const auto& list) {
        QStringList names;
        for (const auto& option : list)
            names << QString::fromUtf8(option.data(), static_cast<int>(option.size()));
        return names;
    };
    picker("帧速率", &FcpxmlSettings::fps, options(kFcpxmlFpsOptions));
    picker("分辨率", &FcpxmlSettings::selectedFrame, options(kFcpxmlFrameOptions));
    picker("字体", &FcpxmlSettings::fontName, QFontDatabase::families());
    picker("样式", &FcpxmlSettings::selectedFontFace, options(kFcpxmlFaceOptions));
    field("字号:", &FcpxmlSettings::fontSize);
    field("边框:", &FcpxmlSettings::lineWidth);
    field("位置x:", &FcpxmlSettings::px);
    field("y:", &FcpxmlSettings::py);
    field("字间距:", &FcpxmlSettings::charDistance);
    field("阴影角度:", &FcpxmlSettings::shadowAngle);
    field("阴影距离:", &FcpxmlSettings::shadowDistance);
    field("缩放x:", &FcpxmlSettings::selectedSx);
    field("缩放y:", &FcpxmlSettings::selectedSy);
    layout->addWidget(settingsCard);

    auto* texts = new QHBoxLayout;
    texts->setSpacing(12);
    srt_ = new QPlainTextEdit;
    srt_->setObjectName("srtText");
    srt_->setPlaceholderText("粘贴或打开 SRT 字幕，或把 SRT 文件拖到这里");
    result_ = new QPlainTextEdit;
    result_->setObjectName("fcpxmlText");
    result_->setReadOnly(true);
    result_->setPlaceholderText("转换结果");
    texts->addWidget(srt_, 1);
    texts->addWidget(result_, 1);
    layout->addLayout(texts, 1);

    auto* bottom = new QHBoxLayout;
    status_ = new QLabel;
    status_->setObjectName("Secondary");
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* convertButton = new QPushButton("转格式");
    convertButton->setObjectName("PrimaryButton");
    auto* saveButton = new QPushButton("保存");
    saveButton->setObjectName("save");
    bottom->addWidget(status_, 1);
    bottom->addWidget(convertButton);
    bottom->addWidget(saveButton);
    layout->addLayout(bottom);

    connect(paste, &QPushButton::clicked, this, &SrtToFcpxmlScreen::pasteSrt);
    connect(open, &QPushButton::clicked, this, &SrtToFcpxmlScreen::openSrtFile);
    connect(batch, &QPushButton::clicked, this, [this] {
        const std::vector<fs::path> files =
            context_.dialogs.openFiles(this, "批量处理 SRT文件", kSrtFilter);
        if (!files.empty()) convertBatch(files);
    });
    connect(convertButton, &QPushButton::clicked, this, &SrtToFcpxmlScreen::convert);
    connect(saveButton, &QPushButton::clicked, this, &SrtToFcpxmlScreen::save);
}

QString SrtToFcpxmlScreen::resultText() const {
    return result_->toPlainText();
}

void SrtToFcpxmlScreen::setSetting(std::string FcpxmlSettings::*field, const QString& value) {
    settings_.*field = value.toStdString();
    for (const FcpxmlSettings::Key& key : FcpxmlSettings::keys()) {
        if (key.field != field) continue;
        Preferences& preferences = context_.preferences;
        const std::string name = key.name;
        const std::string stored = settings_.*field;
        runSerially([&preferences, name, stored] { preferences.setText(name, stored); });
    }
}

void SrtToFcpxmlScreen::pasteSrt() {
    const QString text = QApplication::clipboard()->text();
    if (!text.isEmpty()) srt_->setPlainText(text);
}

void SrtToFcpxmlScreen::openSrtFile() {
    if (const auto file = context_.dialogs.openFile(this, "打开 SRT文件", kSrtFilter)) {
        loadSrt(*file);
    }
}

void SrtToFcpxmlScreen::loadSrt(const fs::path& file) {
    runInBackground(
        this,
        [file] {
            SrttoFcpxmlModel loaded;
            const bool read = loaded.openSrtFile(file);
            return std::make_pair(read, loaded);
        },
        [this, file](const std::pair<bool, SrttoFcpxmlModel>& outcome) {
            if (!outcome.first) {
                showStatus("无法读取 " + qt(file.filename().string()), true);
                return;
            }
            model_.projectName = outcome.second.projectName;
            srt_->setPlainText(qt(outcome.second.srtText));
            showStatus("已打开 " + qt(file.filename().string()));
        });
}

void SrtToFcpxmlScreen::convert() {
    SrttoFcpxmlModel request = model_;
    request.srtText = srt_->toPlainText().toStdString();
    const FcpxmlSettings settings = settings_;
    runInBackground(
        this,
        [request, settings]() mutable {
            request.convertSRTtoFCPXML(settings);
            return request;
        },
        [this](const SrttoFcpxmlModel& converted) {
            model_ = converted;
            result_->setPlainText(qt(model_.fcpxmlText));
            showStatus("序列时长 " + qt(model_.sequenceDuration),
                       model_.fcpxmlText.rfind("Error", 0) == 0);
            emit finished();
        });
}

void SrtToFcpxmlScreen::save() {
    const auto file = context_.dialogs.saveFile(this, "保存", qt(model_.suggestedFileName()),
                                                "FCPXML (*.fcpxml)");
    if (!file) return;
    const std::string text = result_->toPlainText().toStdString();
    runInBackground(
        this,
        [file, text]() -> std::string {
            try {
                writeFileAtomically(*file, text);
            } catch (const std::exception& error) {
                console(std::string("Error saving file: ") + error.what());
                return error.what();
            }
            console("Saved to " + file->string());
            return {};
        },
        [this, file](const std::string& error) {
            if (error.empty()) {
                showStatus("已保存到 " + qt(file->string()));
            } else {
                showStatus("保存失败: " + qt(error), true);
            }
            emit finished();
        });
}

void SrtToFcpxmlScreen::convertBatch(const std::vector<fs::path>& files) {
    showStatus(QString("正在转换 %1 个文件...").arg(files.size()));
    runInBackground(
        this,
        [files] {
            BatchOutcome outcome;
            for (const fs::path& file : files) {
                try {
                    convertSRTtoFCPXMLPublic(file);
                    ++outcome.written;
                } catch (const std::exception& error) {
                    console(std::string("❌ ") + error.what());
                    ++outcome.failed;
                }
            }
            return outcome;
        },
        [this](const BatchOutcome& outcome) {
            QString text = QString("已转换 %1 个文件").arg(outcome.written);
            if (outcome.failed > 0) text += QString("，%1 个失败").arg(outcome.failed);
            showStatus(text, outcome.failed > 0);
            emit finished();
        });
}

void SrtToFcpxmlScreen::showStatus(const QString& text, bool failed) {
    status_->setText(text);
    status_->setStyleSheet(failed ? "color: #dc2626;" : "");
}

void SrtToFcpxmlScreen::dragEnterEvent(QDragEnterEvent* event) {
    if (!srtFiles(localFiles(event->mimeData())).empty()) event->acceptProposedAction();
}

void SrtToFcpxmlScreen::dropEvent(QDropEvent* event) {
    const std::vector<fs::path> files = srtFiles(localFiles(event->mimeData()));
    if (files.empty()) return;
    event->acceptProposedAction();
    // One file is opened for editing; several are converted beside themselves.
    if (files.size() == 1) {
        loadSrt(files.front());
    } else {
        convertBatch(files);
    }
}

}  // namespace quillora
