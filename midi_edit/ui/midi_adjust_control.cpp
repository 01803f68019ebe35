#include "midi_edit/ui/midi_adjust_control.h"

#include "midi_edit/general_midi.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>

namespace chwr {
namespace {

QSpinBox* makeSpinBox(QWidget* parent, const char* name, int limit, const QString& tip)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(-limit, limit);
    box->setValue(0);
    box->setToolTip(tip);
    return box;
}

}  // namespace

MIDIAdjustControl::MIDIAdjustControl(QWidget* parent) : QWidget(parent)
{
    setObjectName("MIDIAdjustControl");
    lblChannel = new QLabel(this);
    lblChannel->setObjectName("lblChannel");
    lblChannel->setMinimumWidth(lblChannel->fontMetrics().horizontalAdvance("Channel 16 "));
    spnOctave = makeSpinBox(this, "spnOctave", kOctaveLimit, tr("Octaves to shift the channel's notes"));
    spnVelocity = makeSpinBox(this, "spnVelocity", kOffsetLimit, tr("Added to the channel's note velocities"));
    spnVolume = makeSpinBox(this, "spnVolume", kOffsetLimit, tr("Added to the channel's volume"));
    cboPatch = new QComboBox(this);
    cboPatch->setObjectName("cboPatch");
    cboPatch->setToolTip(tr("Instrument of the channel"));
    cboPatch->addItem(patchText(kNoPatch), kNoPatch);
    for (int program = 0; program < kGeneralMidiProgramCount; ++program)
        cboPatch->addItem(patchText(program), program);
    setMIDIChannelP(0);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->addWidget(lblChannel);
    layout->addWidget(new QLabel(tr("Octave"), this));
    layout->addWidget(spnOctave);
    layout->addWidget(new QLabel(tr("Velocity"), this));
    layout->addWidget(spnVelocity);
    layout->addWidget(new QLabel(tr("Volume"), this));
    layout->addWidget(spnVolume);
    layout->addWidget(new QLabel(tr("Patch"), this));
    layout->addWidget(cboPatch, 1);

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

QString MIDIAdjustControl::patchText(int patch)
{
    const std::string_view name = generalMidiInstrumentName(patch);
    if (name.empty())
        return QStringLiteral("none");
    return QStringLiteral("%1 %2").arg(patch).arg(QString::fromLatin1(name.data(), qsizetype(name.size())));
}

}  // namespace chwr
