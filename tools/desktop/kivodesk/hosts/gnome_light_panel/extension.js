/* exported init */
// All this extension does is its stylesheet.css, which GNOME Shell loads while the extension is enabled.

function init() {
    return {enable() {}, disable() {}};
}
