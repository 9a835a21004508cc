// What kelp-cua asks of GNOME Shell and no stock interface answers for an
// ordinary client: the windows with their places and processes, the
// monitors and the pointer, and bringing a window forward or placing it.
// Written once for both extension forms: GNOME 43 loads it as a legacy
// module (top-level `var` and `function` are its exports), GNOME 45 and
// later as an ES module, to which the install script appends the export.

var OBJECT_PATH = '/dev/kelpcua/Shell';
// Raised whenever a method or a field changes meaning; kelp-cua reads it to
// tell an extension it understands from an older one.
var VERSION = 1;

var INTERFACE = `<node>
  <interface name="dev.kelpcua.Shell">
    <method name="ListWindows"><arg type="s" name="json" direction="out"/></method>
    <method name="Monitors"><arg type="s" name="json" direction="out"/></method>
    <method name="Pointer">
      <arg type="i" name="x" direction="out"/><arg type="i" name="y" direction="out"/>
    </method>
    <method name="Activate">
      <arg type="t" name="id" direction="in"/><arg type="b" name="found" direction="out"/>
    </method>
    <method name="MoveResize">
      <arg type="t" name="id" direction="in"/>
      <arg type="i" name="x" direction="in"/><arg type="i" name="y" direction="in"/>
      <arg type="i" name="width" direction="in"/><arg type="i" name="height" direction="in"/>
      <arg type="b" name="found" direction="out"/>
    </method>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

function rectOf(r) {
    return {x: r.x, y: r.y, w: r.width, h: r.height};
}

function enumName(values, value) {
    const name = Object.keys(values).find(key => values[key] === value);
    return name ? name.toLowerCase() : String(value);
}

// `shell` holds what each form imports its own way: Meta, Main and global.
function makeService(shell) {
    const {Meta, Main, global} = shell;
    const windows = () => global.get_window_actors().map(actor => actor.meta_window).filter(w => w);
    const windowWithId = id => windows().find(w => w.get_id() === id) ?? null;

    return {
        get Version() {
            return VERSION;
        },

        ListWindows() {
            const display = global.display;
            const workspace = global.workspace_manager.get_active_workspace();
            const focus = display.focus_window;
            const stacked = display.sort_windows_by_stacking(windows());
            const list = stacked.map((w, index) => ({
                id: w.get_id(),
                title: w.get_title() ?? null,
                wmClass: w.get_wm_class() ?? null,
                wmInstance: w.get_wm_class_instance() ?? null,
                appId: w.get_gtk_application_id() ?? w.get_sandboxed_app_id() ?? null,
                pid: w.get_pid(),
                frame: rectOf(w.get_frame_rect()),
                buffer: rectOf(w.get_buffer_rect()),
                focused: w === focus,
                minimized: w.minimized,
                shown: w.showing_on_its_workspace() && (w.is_on_all_workspaces() || w.located_on_workspace(workspace)),
                stacking: index,
                type: enumName(Meta.WindowType, w.get_window_type()),
                x11: w.get_client_type() === Meta.WindowClientType.X11,
            }));
            return JSON.stringify(list);
        },

        Monitors() {
            const display = global.display;
            const primary = display.get_primary_monitor();
            const list = [];
            for (let i = 0; i < display.get_n_monitors(); i++) {
                list.push({...rectOf(display.get_monitor_geometry(i)), scale: display.get_monitor_scale(i),
                    primary: i === primary});
            }
            return JSON.stringify(list);
        },

        Pointer() {
            const [x, y] = global.get_pointer();
            return [x, y];
        },

        Activate(id) {
            const w = windowWithId(id);
            if (!w) return false;
            // Switches workspace, leaves the Overview, unminimizes and focuses.
            Main.activateWindow(w);
            return true;
        },

        MoveResize(id, x, y, width, height) {
            const w = windowWithId(id);
            if (!w) return false;
            // A maximized or full-screen window keeps its place until it is neither.
            if (w.is_fullscreen()) w.unmake_fullscreen();
            // Mutter 49 dropped the flags and get_maximized.
            const maximized = w.get_maximized ? w.get_maximized() !== 0 : w.is_maximized();
            if (maximized) {
                if (Meta.MaximizeFlags) w.unmaximize(Meta.MaximizeFlags.BOTH);
                else w.unmaximize();
            }
            w.move_resize_frame(true, x, y, width, height);
            return true;
        },
    };
}
