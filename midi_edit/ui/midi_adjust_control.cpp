#include "midi_edit/ui/midi_adjust_control.h"

#include "midi_edit/general_midi.h"
#include "midi_edit/ui/song_view.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

#include <algorithm>

namespace chwr {
namespace {

// The side of the colour swatch, in pixels.
constexpr int kSwatchSize = 12;

// A spin box that takes any whole number typed and brings it into its range when the
// field is left: Qt's own refuses a keystroke that leaves the range, without a word.
class ClampingSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

    QValidator::State validate(QString& input, int& position) const override
    {
        const QString number = input.trimmed();
        if (number.isEmpty() || number == QLatin1String("-") || number == QLatin1String("+"))
            return QValidator::Intermediate;
        bool isNumber = false;
        const qlonglong value = number.toLongLong(&isNumber);
        if (!isNumber)
            return QValidator::Invalid;
        if (value < minimum() || value > maximum())
            return QValidator::Intermediate;
        return QSpinBox::validate(input, position);
    }

    void fixup(QString& input) const override
    {
        bool isNumber = false;
        const qlonglong value = input.trimmed().toLongLong(&isNumber);
        if (isNumber)
            input = QString::number(std::clamp<qlonglong>(value, minimum(), maximum()));
    }
};

QSpinBox* makeSpinBox(QWidget* parent, const char* name, int limit, const QString& tip)
{
    auto* box = new ClampingSpinBox(parent);
    box->setObjectName(name);
    box->setRange(-limit, limit);
    box->setValue(0);
    box->setToolTip(tip);
    box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return box;
}

}  // namespace

MIDIAdjustControl::MIDIAdjustControl(QWidget* parent) : QWidget(parent)
{
    setObjectName("MIDIAdjustControl");
    lblChannel = new QLabel(this);
    lblChannel->setObjectName("lblChannel");
    lblChannel->setMinimumWidth(lblChannel->fontMetrics().horizontalAdvance("Channel 16 "));
    lblColour = new QLabel(this);
    lblColour->setObjectName("lblColour");
    lblColour->setFixedSize(kSwatchSize, kSwatchSize);
    lblColour->setAutoFillBackground(true);
    spnOctave = makeSpinBox(this, "spnOctave", kOctaveLimit, tr("Octaves to shift the channel's notes"));
    spnVelocity = makeSpinBox(this, "spnVelocity", kOffsetLimit, tr("Added to the channel's note velocities"));
    spnVolume = makeSpinBox(this, "spnVolume", kOffsetLimit, tr("Added to the channel's volume"));
    cboPatch = new QComboBox(this);
    cboPatch->setObjectName("cboPatch");
    // As wide as the longest instrument name, and no wider however wide the row.
    cboPatch->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboPatch->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    cboPatch->setToolTip(tr("Instrument of the channel"));
    cboPatch->addItem(patchText(kNoPatch), kNoPatch);
    for (int program = 0; program < kGeneralMidiProgramCount; ++program)
        cboPatch->addItem(patchText(program), program);
    setMIDIChannelP(0);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->addWidget(lblColour);
    layout->addWidget(lblChannel);
    layout->addWidget(new QLabel(tr("Octave"), this));
    layout->addWidget(spnOctave);
    layout->addWidget(new QLabel(tr("Velocity"), this));
    layout->addWidget(spnVelocity);
    layout->addWidget(new QLabel(tr("Volume"), this));
    layout->addWidget(spnVolume);
    layout->addWidget(new QLabel(tr("Patch"), this));
    layout->addWidget(cboPatch);
    layout->addStretch(1);

    auto forward = [this](QSpinBox* box, const char* property) {
        connect(box, &QSpinBox::valueChanged, this, [this, property](int value) {
            if (!m_settingFromCode)
                emit edited(property, value);
        });
    };
    forward(spnOctave, "MIDIOctaveP");
    forward(spnVelocity, "MIDIVelocityP");
    forward(spnVolume, "MIDIVolumeP");
    connect(cboPatch, &QComboBox::currentIndexChanged, this, [this](int) {
        if (!m_settingFromCode)
            emit edited("MIDIPatchP", MIDIPatchP());
    });
}

int MIDIAdjustControl::MIDIOctaveP() const
{
    return spnOctave->value();
}

int MIDIAdjustControl::MIDIVelocityP() const
{
    return spnVelocity->value();
}

int MIDIAdjustControl::MIDIVolumeP() const
{
    return spnVolume->value();
}

int MIDIAdjustControl::MIDIPatchP() const
{
    return cboPatch->currentData().toInt();
}

void MIDIAdjustControl::setMIDIChannelP(int channel)
{
    m_channel = channel;
    lblChannel->setText(tr("Channel %1").arg(channel));
    QPalette swatch = lblColour->palette();
    swatch.setColor(QPalette::Window, channelColour(channel - 1));
    lblColour->setPalette(swatch);
}

void MIDIAdjustControl::setMIDIOctaveP(int octave)
{
    m_settingFromCode = true;
    spnOctave->setValue(octave);
    m_settingFromCode = false;
}

void MIDIAdjustControl::setMIDIVelocityP(int velocity)
{
    m_settingFromCode = true;
    spnVelocity->setValue(velocity);
    m_settingFromCode = false;
}

void MIDIAdjustControl::setMIDIVolumeP(int volume)
{
    m_settingFromCode = true;
    spnVolume->setValue(volume);
    m_settingFromCode = false;
}

void MIDIAdjustControl::setMIDIPatchP(int patch)
{
    const int index = cboPatch->findData(patch);
    m_settingFromCode = true;
    cboPatch->setCurrentIndex(index >= 0 ? index : 0);
    m_settingFromCode = false;
}

void MIDIAdjustControl::showBlank(int channel)
{
    setMIDIChannelP(channel);
    m_settingFromCode = true;
    for (QSpinBox* box : {spnOctave, spnVelocity, spnVolume})
        box->clear();
    cboPatch->setCurrentIndex(-1);
    m_settingFromCode = false;
    setEnabled(false);
}

QString MIDIAdjustControl::patchText(int patch)
{
    const std::string_view name = generalMidiInstrumentName(patch);
    if (name.empty())
        return QStringLiteral("none");
    return QStringLiteral("%1 %2").arg(patch).arg(QString::fromLatin1(name.data(), qsizetype(name.size())));
}

}  // namespace chwr
