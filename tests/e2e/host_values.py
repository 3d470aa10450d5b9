"""What every phase of a host scenario (hosts_test.py, login_day.py) waits for and reads: its deadlines, and
the words the app shows for the stand-in agent's home."""

WAIT = 20
# Hosts start in seconds; a cold cache on a busy machine makes that many more.
STARTUP = 60

ONLINE = "Reachable from your devices · via eu-1"
PAUSED = "Kivo is paused: this computer is unreachable"
WAITING = [{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "kivo-7"}]
WAITING_SUMMARY = "coder · ~/src/kivo"
NO_TRAY = "No system tray is running"
OPEN_AT_LOGIN = "Open at login"
