#include "ui/preview_panel.h"

#include "ui/frame_picture_view.h"
#include "ui/join_plot.h"
#include "ui/waveform_view.h"

#include "soundtrack/join_evidence.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <opencv2/imgproc.hpp>

namespace veltrana::ui {
namespace {

QString swatch(const QColor& colour, const QString& text) {
    return QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;%2")
        .arg(colour.name(), text);
}

const char* const kBadColour = "#dc1e1e";

} // namespace

QImage previewImage(const cv::Mat& picture) {
    if (picture.empty()) {
        return {};
    }
    cv::Mat eightBits = picture;
    if (picture.depth() == CV_16U) {
        picture.convertTo(eightBits, CV_8U, 1.0 / 257.0);
    } else if (picture.depth() != CV_8U) {
        cv::normalize(picture, eightBits, 0, 255, cv::NORM_MINMAX, CV_8U);
    }
    cv::Mat bgr = eightBits;
    if (eightBits.channels() == 1) {
        cv::cvtColor(eightBits, bgr, cv::COLOR_GRAY2BGR);
    } else if (eightBits.channels() == 4) {
        cv::cvtColor(eightBits, bgr, cv::COLOR_BGRA2BGR);
    }
    // the copy owns its pixels; the Mat's may be gone when the image is drawn
    return QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step),
                  QImage::Format_BGR888)
        .copy();
}

PreviewPanel::PreviewPanel(QWidget* parent) : QGroupBox(QStringLiteral("Preview"), parent) {
    setObjectName(QStringLiteral("previewPanel"));

    picture = new FramePictureView(this);
    waveform = new WaveformView(this);
    joins = new JoinPlot(this);
    // the rule that flags a join, as the README and the run report state it
    joins->setToolTip(QString::fromStdString(joinRuleText()));

    // the labels never widen the window: a long file name is cut off at the
    // panel's edge and shown whole in the tooltip
    caption = new QLabel(this);
    caption->setObjectName(QStringLiteral("previewCaption"));
    caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont captionFont = caption->font();
    captionFont.setBold(true);
    caption->setFont(captionFont);
    caption->setTextFormat(Qt::PlainText);
    details = new QLabel(this);
    details->setObjectName(QStringLiteral("previewDetails"));
    details->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    details->setTextFormat(Qt::RichText);
    // two lines always, so that the plot below does not move from frame to frame
    details->setMinimumHeight(2 * details->fontMetrics().lineSpacing());
    details->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // the run's warnings (job/run_notes.h), as the run report shows them
    warnings = new QLabel(this);
    warnings->setObjectName(QStringLiteral("previewWarnings"));
    warnings->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    warnings->setTextFormat(Qt::RichText);
    warnings->setWordWrap(true);

    legend = new QLabel(this);
    legend->setObjectName(QStringLiteral("previewLegend"));
    legend->setTextFormat(Qt::RichText);

    auto* side = new QVBoxLayout;
    side->addWidget(caption);
    side->addWidget(details);
    side->addWidget(warnings);
    side->addWidget(joins, 1);

    auto* layout = new QGridLayout(this);
    layout->addWidget(picture, 0, 0);
    layout->addLayout(side, 0, 1, 2, 1);
    layout->addWidget(legend, 1, 0);
    layout->addWidget(waveform, 2, 0, 1, 2);
    layout->setColumnStretch(0, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(0, 1);

    clear(Run::Soundtrack);
}

void PreviewPanel::clear(Run kind) {
    run = kind;
    frames = 0;
    resolution.reset();
    picture->clear();
    const QString bounds = swatch(FramePictureView::boundsColour(), QStringLiteral("frame bounds"));
    if (run == Run::Soundtrack) {
        legend->setText(bounds + QStringLiteral("&nbsp;&nbsp;") +
                        swatch(FramePictureView::bandColour(), QStringLiteral("soundtrack band")));
        waveform->clear(QStringLiteral("The sound of a run appears here"));
        joins->clear(QStringLiteral("The joins of a run appear here"));
    } else {
        legend->setText(bounds + QStringLiteral("&nbsp;&nbsp;") +
                        swatch(FramePictureView::cutColour(), QStringLiteral("cut region")));
        waveform->clear(QStringLiteral("A film run makes no sound"));
        joins->clear(QStringLiteral("A film run joins no frames"));
    }
    caption->setText(QStringLiteral("No frame yet"));
    caption->setToolTip(QString());
    details->setText(QString());
    warnings->clear();
    warnings->hide();
}

void PreviewPanel::showWarning(const RunWarning& warning) {
    QString text = warnings->text();
    if (!text.isEmpty()) {
        text += QStringLiteral("<br>");
    }
    text +=
        QStringLiteral("<b style=\"color:%1\">Warning:</b> %2")
            .arg(QLatin1String(kBadColour), QString::fromStdString(warning.reason).toHtmlEscaped());
    warnings->setText(text);
    warnings->show();
}

void PreviewPanel::showFrame(const FramePreview& preview) {
    ++frames;
    if (preview.resolution) {
        resolution = preview.resolution;
    }
    const bool bad = !preview.flags.empty();
    if (run == Run::Soundtrack) {
        waveform->addFrame(preview.frame, preview.samples, preview.join, bad);
        if (preview.join) {
            joins->addJoin(preview.frame, *preview.join, bad);
        }
    }
    showCaption(preview);
}

void PreviewPanel::showPicture(const FramePreview& preview, const QImage& image) {
    picture->showPicture(preview, image);
}

void PreviewPanel::showCaption(const FramePreview& preview) {
    const QString file = QString::fromStdString(preview.file);
    caption->setText(QStringLiteral("Frame %1 \u2013 %2").arg(preview.frame).arg(file));
    caption->setToolTip(file);

    QStringList lines;
    if (resolution) {
        lines << QStringLiteral("Resolution %1 \u00d7 %2 dpi")
                     .arg(resolution->dpiX)
                     .arg(resolution->dpiY);
    }
    if (run == Run::Film) {
        lines << (preview.cuts.size() == 1
                      ? QStringLiteral("1 cut region")
                      : QStringLiteral("%1 cut regions").arg(preview.cuts.size()));
    } else if (preview.join) {
        QString join = QStringLiteral("Join at row %1").arg(*preview.join, 0, 'f', 2);
        if (preview.score) {
            join += QStringLiteral(", score %1").arg(*preview.score, 0, 'f', 2);
        }
        lines << join;
        // the same flags, with the same reasons, as the log and the run report
        for (const JoinFlag& flag : preview.flags) {
            lines << QStringLiteral("<b style=\"color:%1\">%2</b>: %3")
                         .arg(QLatin1String(kBadColour), QLatin1String(joinFlagName(flag.kind)),
                              QString::fromStdString(flag.reason).toHtmlEscaped());
        }
    } else {
        lines << QStringLiteral("First frame: no join");
    }
    details->setText(lines.join(QStringLiteral("<br>")));
}

} // namespace veltrana::ui
