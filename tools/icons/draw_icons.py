#!/usr/bin/env python3
"""Draws the project's icon sets (light and dark) as SVG into src/ui/icons.

Every icon is a 24 x 24 line drawing: one ink colour for the lines, one
accent colour for what the icon is about. The light set has dark ink for
light windows, the dark set light ink for dark windows. Run it again after
changing a drawing: python3 tools/icons/draw_icons.py
"""
import os

SETS = {
    "light": {"ink": "#37474f", "accent": "#1e6fd9", "ok": "#2e7d32", "bad": "#c62828", "warn": "#ef6c00", "paper": "#ffffff"},
    "dark": {"ink": "#e3e8eb", "accent": "#6aaeff", "ok": "#66bb6a", "bad": "#ef5350", "warn": "#ffa726", "paper": "#2b3035"},
}

LINE = 'fill="none" stroke="{c}" stroke-width="2" stroke-linecap="round" stroke-linejoin="round"'

ICONS = {
    # commands
    "start": '<path d="M8 5 L19 12 L8 19 Z" fill="{ok}" stroke="{ok}" stroke-width="2" stroke-linejoin="round"/>',
    "stop": '<rect x="6" y="6" width="12" height="12" rx="1.5" fill="{bad}" stroke="{bad}" stroke-width="2"/>',
    "instant": '<path d="M13 3 L6 13 H11 L10 21 L18 10 H13 Z" fill="{warn}" stroke="{warn}" stroke-width="1.5" stroke-linejoin="round"/>',
    "add": '<path d="M3 7 V18 a1 1 0 0 0 1 1 H20 a1 1 0 0 0 1 -1 V9 a1 1 0 0 0 -1 -1 H11 L9 5 H4 a1 1 0 0 0 -1 1 Z" ' + LINE.format(c="{ink}") + '/>'
           '<path d="M12 11 V16 M9.5 13.5 H14.5" ' + LINE.format(c="{ok}") + '/>',
    "remove": '<path d="M3 7 V18 a1 1 0 0 0 1 1 H20 a1 1 0 0 0 1 -1 V9 a1 1 0 0 0 -1 -1 H11 L9 5 H4 a1 1 0 0 0 -1 1 Z" ' + LINE.format(c="{ink}") + '/>'
              '<path d="M9.5 13.5 H14.5" ' + LINE.format(c="{bad}") + '/>',
    "edit": '<path d="M4 20 L5 15 L15.5 4.5 a2.1 2.1 0 0 1 3 3 L8 18 Z" ' + LINE.format(c="{ink}") + '/>'
            '<path d="M13.5 6.5 L16.5 9.5" ' + LINE.format(c="{accent}") + '/>',
    "filter": '<path d="M4 5 H20 L14 12 V19 L10 17 V12 Z" ' + LINE.format(c="{ink}") + '/>',
    "menu": '<path d="M4 7 H20 M4 12 H20 M4 17 H20" ' + LINE.format(c="{ink}") + '/>',
    "quit": '<path d="M12 3 V11" ' + LINE.format(c="{bad}") + '/>'
            '<path d="M7.5 6.5 a7 7 0 1 0 9 0" ' + LINE.format(c="{ink}") + '/>',
    "background": '<rect x="3" y="15" width="18" height="5" rx="1" ' + LINE.format(c="{ink}") + '/>'
                  '<path d="M12 3 V12 M8.5 8.5 L12 12 L15.5 8.5" ' + LINE.format(c="{accent}") + '/>',
    "log-clear": '<path d="M5 19 H19" ' + LINE.format(c="{ink}") + '/>'
                 '<path d="M8 16 L4.5 12.5 L12.5 4.5 L19.5 11.5 L14.5 16 Z M8.5 8.5 L15.5 15.5" ' + LINE.format(c="{accent}") + '/>',
    "log-copy": '<rect x="8" y="8" width="12" height="13" rx="1.5" ' + LINE.format(c="{ink}") + '/>'
                '<path d="M16 5 V4.5 A1.5 1.5 0 0 0 14.5 3 H5.5 A1.5 1.5 0 0 0 4 4.5 V15.5 A1.5 1.5 0 0 0 5.5 17 H6" ' + LINE.format(c="{accent}") + '/>',
    "log-file": '<path d="M6 3 H14 L19 8 V21 H6 Z M14 3 V8 H19" ' + LINE.format(c="{ink}") + '/>'
                '<path d="M9 12 H16 M9 15 H16 M9 18 H13" ' + LINE.format(c="{accent}") + '/>',
    "help": '<circle cx="12" cy="12" r="9" ' + LINE.format(c="{ink}") + '/>'
            '<path d="M9.5 9.5 a2.5 2.5 0 1 1 3.5 2.3 c-0.7 0.3 -1 0.8 -1 1.7 V14" ' + LINE.format(c="{accent}") + '/>'
            '<circle cx="12" cy="17" r="1.2" fill="{accent}"/>',
    "about": '<circle cx="12" cy="12" r="9" ' + LINE.format(c="{ink}") + '/>'
             '<path d="M12 11 V17" ' + LINE.format(c="{accent}") + '/><circle cx="12" cy="7.5" r="1.2" fill="{accent}"/>',
    "cancel": '<path d="M6 6 L18 18 M18 6 L6 18" ' + LINE.format(c="{ink}") + '/>',
    "autostart-off": '<rect x="4" y="4" width="16" height="16" rx="2" ' + LINE.format(c="{ink}") + '/>',
    "autostart-on": '<rect x="4" y="4" width="16" height="16" rx="2" ' + LINE.format(c="{ink}") + '/>'
                    '<path d="M8 12 L11 15 L16.5 9" ' + LINE.format(c="{ok}") + '/>',
    "reset-size": '<rect x="4" y="4" width="16" height="16" rx="1.5" ' + LINE.format(c="{ink}") + '/>'
                  '<path d="M9 9 H15 V15 M9 9 L15 15" ' + LINE.format(c="{accent}") + '/>',
    "show-files": '<path d="M6 3 H14 L19 8 V21 H6 Z M14 3 V8 H19" ' + LINE.format(c="{ink}") + '/>'
                  '<circle cx="12" cy="14" r="1.6" fill="{bad}"/>',
    # the text viewer
    "open": '<path d="M3 7 V18 a1 1 0 0 0 1 1 H18 L21 11 H8 L5 19 M3 7 a1 1 0 0 1 1 -1 H9 L11 8 H17 a1 1 0 0 1 1 1 V11" ' + LINE.format(c="{ink}") + '/>',
    "print": '<path d="M7 9 V3 H17 V9" ' + LINE.format(c="{ink}") + '/>'
             '<rect x="3" y="9" width="18" height="8" rx="1.5" ' + LINE.format(c="{ink}") + '/>'
             '<path d="M7 14 H17 V21 H7 Z" ' + LINE.format(c="{accent}") + '/>',
    "find": '<circle cx="10.5" cy="10.5" r="6" ' + LINE.format(c="{ink}") + '/>'
            '<path d="M15 15 L20.5 20.5" ' + LINE.format(c="{accent}") + '/>',
    "next-error": '<path d="M12 4 V15 M7 10.5 L12 15.5 L17 10.5" ' + LINE.format(c="{bad}") + '/><path d="M5 20 H19" ' + LINE.format(c="{ink}") + '/>',
    "prev-error": '<path d="M12 20 V9 M7 13.5 L12 8.5 L17 13.5" ' + LINE.format(c="{bad}") + '/><path d="M5 4 H19" ' + LINE.format(c="{ink}") + '/>',
    "next-section": '<path d="M12 4 V15 M7 10.5 L12 15.5 L17 10.5" ' + LINE.format(c="{accent}") + '/><path d="M5 20 H19" ' + LINE.format(c="{ink}") + '/>',
    "prev-section": '<path d="M12 20 V9 M7 13.5 L12 8.5 L17 13.5" ' + LINE.format(c="{accent}") + '/><path d="M5 4 H19" ' + LINE.format(c="{ink}") + '/>',
    "zip": '<path d="M6 3 H14 L19 8 V21 H6 Z M14 3 V8 H19" ' + LINE.format(c="{ink}") + '/>'
           '<path d="M11 5 H12 M11 8 H12 M11 11 H12" ' + LINE.format(c="{accent}") + '/><rect x="10" y="13" width="3" height="4" rx="0.5" ' + LINE.format(c="{accent}") + '/>',
    "close": '<path d="M6 6 L18 18 M18 6 L6 18" ' + LINE.format(c="{bad}") + '/>',
    # task run states in the list
    "status-watch": '<path d="M2.5 12 C5 7 8.5 5 12 5 C15.5 5 19 7 21.5 12 C19 17 15.5 19 12 19 C8.5 19 5 17 2.5 12 Z" ' + LINE.format(c="{ok}") + '/>'
                    '<circle cx="12" cy="12" r="3" fill="{ok}"/>',
    "status-backup": '<path d="M19 12 a7 7 0 0 1 -12.1 4.8 M5 12 a7 7 0 0 1 12.1 -4.8" ' + LINE.format(c="{warn}") + '/>'
                     '<path d="M17.5 3.5 V7.5 H13.5 M6.5 20.5 V16.5 H10.5" ' + LINE.format(c="{warn}") + '/>',
    "status-off": '<circle cx="12" cy="12" r="4" ' + LINE.format(c="{ink}") + '/>',
    "status-invalid": '<path d="M12 3.5 L21.5 20 H2.5 Z" ' + LINE.format(c="{bad}") + '/><path d="M12 10 V14" ' + LINE.format(c="{bad}") + '/><circle cx="12" cy="17" r="1.1" fill="{bad}"/>',
}

# The notification-area icons (MICOFF, MICWAIT, MICRUN) and the logo: a
# disk with the clock hand of the monitoring on it.
def tray(hand, ring):
    return ('<circle cx="12" cy="12" r="10" fill="{paper}" stroke="' + ring + '" stroke-width="2"/>'
            '<path d="M12 12 V5.5" fill="none" stroke="' + hand + '" stroke-width="2.4" stroke-linecap="round"/>'
            '<path d="M12 12 L16.5 14.5" fill="none" stroke="' + hand + '" stroke-width="2.4" stroke-linecap="round"/>'
            '<circle cx="12" cy="12" r="1.6" fill="' + hand + '"/>')

ICONS["tray-off"] = tray("{ink}", "{ink}")
ICONS["tray-wait"] = tray("{ok}", "{ok}")
ICONS["tray-run"] = tray("{bad}", "{bad}")
ICONS["logo"] = ('<rect x="2" y="2" width="20" height="20" rx="4" fill="{accent}"/>'
                 '<path d="M8 6 V18 M8 12 L15 6 M10.5 10 L16 18" fill="none" stroke="#ffffff" stroke-width="2.4" stroke-linecap="round" stroke-linejoin="round"/>')

def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "ui", "icons")
    for variant, colours in SETS.items():
        folder = os.path.join(root, variant)
        os.makedirs(folder, exist_ok=True)
        for name, body in ICONS.items():
            svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="24" height="24" viewBox="0 0 24 24">'
                   + body.format(**colours) + "</svg>\n")
            with open(os.path.join(folder, name + ".svg"), "w", encoding="utf-8") as f:
                f.write(svg)

if __name__ == "__main__":
    main()
