#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QSpinBox;

namespace chwr {

// The editor of one channel row of the adjustment table: the channel number, spin
// boxes for Octave, Velocity and Volume and a list of the General MIDI instruments
// (plus "none", the -1 of a channel whose file selects no program) for Patch.
//
// The five properties bind the row's fields; setting one from code raises no edit
// signal, so a display refresh never reads as the user's edit.
class MIDIAdjustControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int MIDIChannelP READ MIDIChannelP WRITE setMIDIChannelP)
    Q_PROPERTY(int MIDIOctaveP READ MIDIOctaveP WRITE setMIDIOctaveP)
    Q_PROPERTY(int MIDIVelocityP READ MIDIVelocityP WRITE setMIDIVelocityP)
    Q_PROPERTY(int MIDIVolumeP READ MIDIVolumeP WRITE setMIDIVolumeP)
    Q_PROPERTY(int MIDIPatchP READ MIDIPatchP WRITE setMIDIPatchP)
public:
    // Value ranges: whole octaves that can still move a key inside 0 to 127, and
    // offsets that can take a 7-bit value anywhere in its range.
    static constexpr int kOctaveLimit = 10;
    static constexpr int kOffsetLimit = 127;

    explicit MIDIAdjustControl(QWidget* parent = nullptr);

    int MIDIChannelP() const { return m_channel; }
    int MIDIOctaveP() const;
    int MIDIVelocityP() const;
    int MIDIVolumeP() const;
    int MIDIPatchP() const;

    void setMIDIChannelP(int channel);
    void setMIDIOctaveP(int octave);
    void setMIDIVelocityP(int velocity);
    void setMIDIVolumeP(int volume);
    // A Patch outside -1 to 127 is shown as "none".
    void setMIDIPatchP(int patch);
    // The row of a channel while no file is open: its fields empty, nothing to edit.
    void showBlank(int channel);

    QLabel* lblChannel = nullptr;
    // The channel's colour in the song view, so that the rows are its legend.
    QLabel* lblColour = nullptr;
    QSpinBox* spnOctave = nullptr;
    QSpinBox* spnVelocity = nullptr;
    QSpinBox* spnVolume = nullptr;
    QComboBox* cboPatch = nullptr;

    // The text of the Patch list for a program: "none" for -1, else "n name".
    static QString patchText(int patch);

signals:
    // The user changed a field; property names the field ("MIDIOctaveP", ...).
    void edited(const char* property, int value);

private:
    int m_channel = 0;
    bool m_settingFromCode = false;
};

}  // namespace chwr
