// kelp-cua's window interface, in the form GNOME Shell 43 and 44 load.
/* exported init */
const {Gio, Meta} = imports.gi;
const Main = imports.ui.main;
const Me = imports.misc.extensionUtils.getCurrentExtension();
const {INTERFACE, OBJECT_PATH, makeService} = Me.imports.service;

class KelpCuaExtension {
    enable() {
        this._exported = Gio.DBusExportedObject.wrapJSObject(INTERFACE, makeService({Meta, Main, global}));
        // On the shell's own connection: callers address org.gnome.Shell.
        this._exported.export(Gio.DBus.session, OBJECT_PATH);
    }

    disable() {
        this._exported?.unexport();
        this._exported = null;
    }
}

function init() {
    return new KelpCuaExtension();
}
