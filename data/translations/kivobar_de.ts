<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>Alerts</name>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>%1 more sessions need you</source>
        <translation>%1 weitere Sitzungen brauchen dich</translation>
    </message>
    <message>
        <source>They are listed in Kivo Bar&apos;s menu.</source>
        <translation>Sie stehen im Menü von Kivo Bar.</translation>
    </message>
    <message>
        <source>No terminal to open</source>
        <translation>Kein Terminal zum Öffnen</translation>
    </message>
    <message>
        <source>Install a terminal such as GNOME Terminal or xterm, or set TERMINAL to the one you use.</source>
        <translation>Installiere ein Terminal wie GNOME Terminal oder xterm, oder setze TERMINAL auf das Terminal, das du verwendest.</translation>
    </message>
    <message>
        <source>No system tray is running</source>
        <translation>Keine Systemleiste aktiv</translation>
    </message>
    <message>
        <source>Kivo Bar shows its icon as soon as one starts. Meanwhile, sessions that need you are announced here.</source>
        <translation>Kivo Bar zeigt sein Symbol, sobald eine startet. Bis dahin werden Sitzungen, die dich brauchen, hier gemeldet.</translation>
    </message>
    <message>
        <source>GNOME shows tray icons with an extension: install the package gnome-shell-extension-appindicator, then enable Ubuntu AppIndicators in Extensions.</source>
        <translation>GNOME zeigt Symbole der Systemleiste mit einer Erweiterung: Installiere das Paket gnome-shell-extension-appindicator und aktiviere dann Ubuntu AppIndicators unter Erweiterungen.</translation>
    </message>
    <message>
        <source>Add the System Tray to a panel: right-click the panel, then Add Widgets.</source>
        <translation>Füge einer Kontrollleiste den Systemabschnitt hinzu: Rechtsklick auf die Kontrollleiste, dann Miniprogramme hinzufügen.</translation>
    </message>
    <message>
        <source>Add the Status Tray plugin to a panel: right-click the panel, then Panel, Add New Items.</source>
        <translation>Füge einer Leiste das Status-Tray-Plugin hinzu: Rechtsklick auf die Leiste, dann Leiste, Neue Elemente hinzufügen.</translation>
    </message>
    <message>
        <source>Add the Status Notifier plugin to the panel: right-click the panel, then Manage Widgets.</source>
        <translation>Füge der Leiste das Status-Notifier-Plugin hinzu: Rechtsklick auf die Leiste, dann Widgets verwalten.</translation>
    </message>
    <message>
        <source>Start a panel with a system tray that shows StatusNotifier items.</source>
        <translation>Starte eine Leiste mit einer Systemleiste, die StatusNotifier-Symbole zeigt.</translation>
    </message>
    <message>
        <source>Scripts cannot reach Kivo Bar</source>
        <translation>Skripte erreichen Kivo Bar nicht</translation>
    </message>
</context>
<context>
    <name>MenuContent</name>
    <message>
        <source>Needs you</source>
        <translation>Braucht dich</translation>
    </message>
    <message>
        <source>Set up this computer…</source>
        <translation>Diesen Computer einrichten…</translation>
    </message>
    <message>
        <source>Install Kivo…</source>
        <translation>Kivo installieren…</translation>
    </message>
    <message>
        <source>Resume Kivo</source>
        <translation>Kivo fortsetzen</translation>
    </message>
    <message>
        <source>Pause Kivo</source>
        <translation>Kivo pausieren</translation>
    </message>
    <message>
        <source>Update to Kivo %1</source>
        <translation>Auf Kivo %1 aktualisieren</translation>
    </message>
    <message>
        <source>Get Kivo Bar %1…</source>
        <translation>Kivo Bar %1 holen…</translation>
    </message>
    <message>
        <source>Open the dashboard</source>
        <translation>Dashboard öffnen</translation>
    </message>
    <message>
        <source>Show the log</source>
        <translation>Protokoll anzeigen</translation>
    </message>
    <message>
        <source>Notify me</source>
        <translation>Benachrichtigen</translation>
    </message>
    <message>
        <source>Open at login</source>
        <translation>Beim Anmelden öffnen</translation>
    </message>
    <message>
        <source>Quit Kivo Bar</source>
        <translation>Kivo Bar beenden</translation>
    </message>
</context>
<context>
    <name>Texts</name>
    <message>
        <source>1 device connected · Kivo %1</source>
        <translation>1 Gerät verbunden · Kivo %1</translation>
    </message>
    <message>
        <source>%1 devices connected · Kivo %2</source>
        <translation>%1 Geräte verbunden · Kivo %2</translation>
    </message>
    <message>
        <source>%1 · %2</source>
        <translation>%1 · %2</translation>
    </message>
    <message>
        <source>%1 · %2 — %3</source>
        <translation>%1 · %2 — %3</translation>
    </message>
    <message>
        <source>1 session needs you</source>
        <translation>1 Sitzung braucht dich</translation>
    </message>
    <message>
        <source>%1 sessions need you</source>
        <translation>%1 Sitzungen brauchen dich</translation>
    </message>
    <message>
        <source>Kivo could not be paused</source>
        <translation>Kivo konnte nicht pausiert werden</translation>
    </message>
    <message>
        <source>Kivo could not be started</source>
        <translation>Kivo konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>Kivo could not be updated</source>
        <translation>Kivo konnte nicht aktualisiert werden</translation>
    </message>
    <message>
        <source>This computer could not be set up</source>
        <translation>Dieser Computer konnte nicht eingerichtet werden</translation>
    </message>
    <message>
        <source>A Kivo action failed</source>
        <translation>Eine Kivo-Aktion ist fehlgeschlagen</translation>
    </message>
</context>
</TS>
