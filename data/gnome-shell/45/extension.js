// kelp-cua's window interface, in the form GNOME Shell 45 and later load.
import Gio from 'gi://Gio';
import Meta from 'gi://Meta';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {INTERFACE, OBJECT_PATH, makeService} from './service.js';

export default class KelpCuaExtension extends Extension {
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
