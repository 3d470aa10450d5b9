#pragma once

#include "view/tray_state.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

/// What a status bar shows of the state, decided once for every bar's format, so that waybar, i3blocks and
/// polybar name and colour the same state alike. Texts from outside in it are fit to stand among ours
/// (texts::fromOutside) and short, but not yet escaped for any bar.
struct BarLook {
    QString text;          ///< the state's words, then the action under way and how many sessions wait, as they hold
    QString shortText;     ///< the state's words, then how many sessions wait: for a bar short of room
    QString color;         ///< #rrggbb: red after a failure, else orange while a session waits, else the state's own
    QStringList classes;   ///< the state's name, then needsYou, busy and failed where they hold
    QString alt;           ///< the state's name, with "-needsYou" after it while a session waits
    bool urgent = false;   ///< a session waits

    friend bool operator==(const BarLook&, const BarLook&) = default;
};

/// The look of `tray` in a status bar. Pure.
BarLook barLook(const TrayState& tray);

/// The state as one line of the JSON that waybar's custom modules read ("return-type": "json"), ended by a
/// line feed: the look's `text`, `class` and `alt`, and a `tooltip` (the headline, devices, progress, failure,
/// sessions). Text and tooltip are Pango markup with the agent's texts escaped. Pure.
QByteArray waybarJson(const TrayState& tray);

/// The state as one line of JSON for an i3blocks block with format=json, ended by a line feed: `full_text`,
/// `short_text`, `color`, `markup` "none", and `urgent` twice, first as the text i3blocks 1.4 reads, then as
/// the boolean i3blocks 1.5 hands to i3bar. No text in it needs a JSON escape, as i3blocks 1.4 undoes none.
/// Pure.
QByteArray i3blocksJson(const TrayState& tray);

/// The state as one line for a polybar custom/script module, ended by a line feed: the look's text in its
/// colour, as polybar's %{F#rrggbb}…%{F-} tags. No text from outside can open a tag of its own. Pure.
QByteArray polybarLine(const TrayState& tray);
