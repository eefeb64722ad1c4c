// gtk_dialogs.cpp - the desktop dialog module (lv_gtkdialogs.so): file, folder, text,
// list, font and colour choosers over GTK3, shown by one GTK thread.
//
// The script thread hands each request over with g_idle_add and waits on a condition in
// steps of a tenth of a second; a stop request answers the dialog as cancelled from the
// GTK thread and the caller gets ERR_USERABORT once it is gone. Jobs are shared between
// the two threads, so an idle call that runs after its caller returned finds its job
// alive. Nothing here throws into GTK: callbacks are plain C and catch nothing because
// they allocate nothing that throws but strings.
#include "ui/gtk_module.h"

#include "base/lverrors.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct lvGtkJob {
    lvGtkRequest *request;
    GtkWidget *dialog;  // while shown (GTK thread only)
    bool cancelled;     // GTK thread only
    bool done;
};

gboolean QuitMain(gpointer);

struct lvGtkState {
    std::mutex lock;
    std::condition_variable changed;
    int started;  // 0 not yet, 1 running, -1 no display
    std::thread thread;
    lvGtkTestHook hook;
    void *hookUser;
    // A run that ends without closing the requester library (End) reaches here with the
    // GTK thread still running; a thread left joinable would abort the process at exit
    // and take the applet's exit code with it.
    ~lvGtkState()
    {
        if (!thread.joinable()) return;
        if (started > 0) g_idle_add(QuitMain, nullptr);
        thread.join();
    }
};

lvGtkState gtkState = {};

using lvJobRef = std::shared_ptr<lvGtkJob>;

void GtkThreadMain(void)
{
    gdk_set_allowed_backends("x11");
    int ok = gtk_init_check(nullptr, nullptr) ? 1 : -1;
    if (ok < 0) {
        const char *name = getenv("DISPLAY");
        fprintf(stderr, "lumivarra: the desktop dialogs could not open the display %s\n", name ? name : "(none)");
    }
    {
        std::lock_guard<std::mutex> hold(gtkState.lock);
        gtkState.started = ok;
    }
    gtkState.changed.notify_all();
    if (ok > 0) gtk_main();
}

// ---- Dialog pieces ------------------------------------------------------------------------

void OnRealize(GtkWidget *widget, gpointer data)
{
    unsigned long parent = (unsigned long)(uintptr_t)data;
    GdkDisplay *display = gtk_widget_get_display(widget);
    if (!parent || !GDK_IS_X11_DISPLAY(display)) return;
    // A window gone meanwhile must not end the program through GTK's X error handler.
    gdk_x11_display_error_trap_push(display);
    GdkWindow *foreign = gdk_x11_window_foreign_new_for_display(display, parent);
    if (foreign) {
        gdk_window_set_transient_for(gtk_widget_get_window(widget), foreign);
        g_object_unref(foreign);
    }
    gdk_x11_display_error_trap_pop_ignored(display);
}

struct lvHookCall {
    GtkWidget *dialog;
    const lvGtkRequest *request;
};

gboolean RunHook(gpointer data)
{
    lvHookCall *call = (lvHookCall *)data;
    lvGtkTestHook hook;
    void *user;
    {
        std::lock_guard<std::mutex> hold(gtkState.lock);
        hook = gtkState.hook;
        user = gtkState.hookUser;
    }
    if (hook) hook(call->dialog, call->request, user);
    g_object_unref(call->dialog);
    delete call;
    return G_SOURCE_REMOVE;
}

gboolean OnMapped(GtkWidget *widget, GdkEvent *, gpointer data)
{
    // The hook runs once the dialog is on screen, from the main loop, as a user would.
    g_object_ref(widget);
    g_idle_add(RunHook, new lvHookCall{widget, (const lvGtkRequest *)data});
    return FALSE;
}

// The edit field keeps the last text that fits the maximum length (whole characters)
// and, when numerical, is a number.
struct lvEntryGuard {
    const lvGtkRequest *request;
    std::string lastGood;
    bool busy;
};

void OnEntryChanged(GtkEditable *editable, gpointer data)
{
    lvEntryGuard *guard = (lvEntryGuard *)data;
    if (guard->busy) return;
    const lvGtkRequest *r = guard->request;
    std::string text = gtk_entry_get_text(GTK_ENTRY(editable));
    bool good = true;
    if (r->maxLength > 0 && text.size() > (size_t)r->maxLength) {
        text.resize(r->cutAt ? r->cutAt(text.c_str(), (size_t)r->maxLength) : (size_t)r->maxLength);
        good = false;
    }
    if (r->numeric && r->isNumber && !r->isNumber(text.c_str())) text = guard->lastGood, good = false;
    guard->lastGood = text;
    if (!good) {
        guard->busy = true;
        gtk_entry_set_text(GTK_ENTRY(editable), text.c_str());
        gtk_editable_set_position(editable, -1);
        guard->busy = false;
    }
}

void AddFilter(GtkFileChooser *chooser, const lvGtkFilter &f)
{
    GtkFileFilter *filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, (f.description.empty() ? f.patterns : f.description).c_str());
    size_t start = 0;
    for (;;) {
        size_t semi = f.patterns.find(';', start);
        std::string one = f.patterns.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        // "*.*" means every file, names without a dot among them.
        if (one == "*.*") one = "*";
        if (!one.empty()) gtk_file_filter_add_pattern(filter, one.c_str());
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    gtk_file_chooser_add_filter(chooser, filter);
}

GtkWidget *MakeDialog(lvGtkRequest *r, lvEntryGuard *guard, GtkListStore **store, GtkWidget **view)
{
    const char *title = r->title.c_str();
    switch (r->kind) {
    case LV_GTK_FILE:
    case LV_GTK_PATH: {
        GtkFileChooserAction action = r->kind == LV_GTK_PATH ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER
                                      : r->mode == 2           ? GTK_FILE_CHOOSER_ACTION_SAVE
                                                               : GTK_FILE_CHOOSER_ACTION_OPEN;
        GtkWidget *dialog = gtk_file_chooser_dialog_new(title, nullptr, action, "_Cancel", GTK_RESPONSE_CANCEL,
                                                        r->mode == 2 && r->kind == LV_GTK_FILE ? "_Save" : "_Open",
                                                        GTK_RESPONSE_ACCEPT, nullptr);
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        gtk_file_chooser_set_select_multiple(chooser, r->kind == LV_GTK_FILE && r->mode == 1);
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, r->mode == 2);
        if (!r->path.empty()) gtk_file_chooser_set_current_folder(chooser, r->path.c_str());
        if (r->kind == LV_GTK_FILE) {
            if (r->mode == 2 && !r->file.empty()) gtk_file_chooser_set_current_name(chooser, r->file.c_str());
            else if (!r->file.empty()) {
                std::string full = r->file[0] == '/' || r->path.empty() ? r->file : r->path + "/" + r->file;
                gtk_file_chooser_set_filename(chooser, full.c_str());
            }
            for (const lvGtkFilter &f : r->filters) AddFilter(chooser, f);
        }
        return dialog;
    }
    case LV_GTK_STRING:
    case LV_GTK_LIST: {
        GtkWidget *dialog = gtk_dialog_new_with_buttons(title, nullptr, GTK_DIALOG_MODAL, "_Cancel",
                                                        GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
        GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
        gtk_container_set_border_width(GTK_CONTAINER(area), 8);
        gtk_box_set_spacing(GTK_BOX(area), 6);
        if (!r->body.empty()) {
            GtkWidget *label = gtk_label_new(r->body.c_str());
            gtk_label_set_xalign(GTK_LABEL(label), 0);
            gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
        }
        if (r->kind == LV_GTK_STRING) {
            GtkWidget *entry = gtk_entry_new();
            gtk_entry_set_text(GTK_ENTRY(entry), r->text.c_str());
            gtk_entry_set_visibility(GTK_ENTRY(entry), !r->password);
            gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
            guard->request = r;
            guard->lastGood = r->text;
            g_signal_connect(entry, "changed", G_CALLBACK(OnEntryChanged), guard);
            gtk_box_pack_start(GTK_BOX(area), entry, FALSE, FALSE, 0);
            *view = entry;
        } else {
            *store = gtk_list_store_new(1, G_TYPE_STRING);
            for (const std::string &item : r->items) {
                GtkTreeIter iter;
                gtk_list_store_append(*store, &iter);
                gtk_list_store_set(*store, &iter, 0, item.c_str(), -1);
            }
            GtkWidget *tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(*store));
            gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tree), FALSE);
            gtk_tree_view_append_column(GTK_TREE_VIEW(tree),
                                        gtk_tree_view_column_new_with_attributes("", gtk_cell_renderer_text_new(),
                                                                                 "text", 0, nullptr));
            if (r->active >= 0 && (size_t)r->active < r->items.size()) {
                GtkTreePath *path = gtk_tree_path_new_from_indices(r->active, -1);
                gtk_tree_view_set_cursor(GTK_TREE_VIEW(tree), path, nullptr, FALSE);
                gtk_tree_path_free(path);
            }
            g_signal_connect_swapped(tree, "row-activated", G_CALLBACK(+[](GtkDialog *d) {
                                         gtk_dialog_response(d, GTK_RESPONSE_OK);
                                     }),
                                     dialog);
            GtkWidget *scroll = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_widget_set_size_request(scroll, -1, 200);
            gtk_container_add(GTK_CONTAINER(scroll), tree);
            gtk_box_pack_start(GTK_BOX(area), scroll, TRUE, TRUE, 0);
            *view = tree;
        }
        gtk_widget_show_all(area);
        gtk_widget_grab_focus(*view);  // typing goes to the field or the list at once
        return dialog;
    }
    case LV_GTK_FONT: {
        GtkWidget *dialog = gtk_font_chooser_dialog_new(title, nullptr);
        if (!r->text.empty()) {
            char size[32];
            g_ascii_formatd(size, sizeof(size), "%g", r->size > 0 ? r->size : 12);
            gtk_font_chooser_set_font(GTK_FONT_CHOOSER(dialog), (r->text + " " + size).c_str());
        }
        return dialog;
    }
    case LV_GTK_COLOR: {
        GtkWidget *dialog = gtk_color_chooser_dialog_new(title, nullptr);
        gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(dialog), FALSE);
        if (r->colour >= 0) {
            GdkRGBA rgba = {((r->colour >> 16) & 255) / 255.0, ((r->colour >> 8) & 255) / 255.0,
                            (r->colour & 255) / 255.0, 1.0};
            gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(dialog), &rgba);
        }
        return dialog;
    }
    }
    return nullptr;
}

void ReadAnswer(lvGtkRequest *r, GtkWidget *dialog, GtkWidget *view)
{
    switch (r->kind) {
    case LV_GTK_FILE:
    case LV_GTK_PATH: {
        GSList *names = gtk_file_chooser_get_filenames(GTK_FILE_CHOOSER(dialog));
        for (GSList *n = names; n; n = n->next) {
            r->paths.emplace_back((const char *)n->data);
            g_free(n->data);
        }
        g_slist_free(names);
        if (r->paths.empty()) r->accepted = 0;
        break;
    }
    case LV_GTK_STRING:
        r->answerText = gtk_entry_get_text(GTK_ENTRY(view));
        break;
    case LV_GTK_LIST: {
        r->index = -1;
        GtkTreeModel *model;
        GtkTreeIter iter;
        if (gtk_tree_selection_get_selected(gtk_tree_view_get_selection(GTK_TREE_VIEW(view)), &model, &iter)) {
            GtkTreePath *path = gtk_tree_model_get_path(model, &iter);
            r->index = gtk_tree_path_get_indices(path)[0];
            gtk_tree_path_free(path);
        }
        if (r->index < 0) r->accepted = 0;
        break;
    }
    case LV_GTK_FONT: {
        PangoFontDescription *desc = gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(dialog));
        if (!desc) {
            r->accepted = 0;
            break;
        }
        const char *family = pango_font_description_get_family(desc);
        r->answerText = family ? family : "";
        r->answerSize = (double)pango_font_description_get_size(desc) / PANGO_SCALE;
        r->weight = (int)pango_font_description_get_weight(desc);
        r->italic = pango_font_description_get_style(desc) != PANGO_STYLE_NORMAL;
        pango_font_description_free(desc);
        break;
    }
    case LV_GTK_COLOR: {
        GdkRGBA rgba;
        gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(dialog), &rgba);
        auto channel = [](double v) { return (int32_t)(v <= 0 ? 0 : v >= 1 ? 255 : v * 255 + 0.5); };
        r->answerColour = (channel(rgba.red) << 16) | (channel(rgba.green) << 8) | channel(rgba.blue);
        break;
    }
    }
}

gboolean ShowDialog(gpointer data)
{
    lvJobRef *ref = (lvJobRef *)data;
    lvGtkJob *job;
    {
        // Taken once the script thread has handed the job over under this lock, so the
        // request it filled is seen whole (glib's queue lock is invisible to race checks).
        std::lock_guard<std::mutex> hold(gtkState.lock);
        job = ref->get();
    }
    lvGtkRequest *r = job->request;
    if (!job->cancelled) {
        lvEntryGuard guard = {nullptr, "", false};
        GtkListStore *store = nullptr;
        GtkWidget *view = nullptr;
        GtkWidget *dialog = MakeDialog(r, &guard, &store, &view);
        if (dialog) {
            g_signal_connect(dialog, "realize", G_CALLBACK(OnRealize), (gpointer)(uintptr_t)r->parentWindow);
            g_signal_connect(dialog, "map-event", G_CALLBACK(OnMapped), r);
            gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
            job->dialog = dialog;
            int response = gtk_dialog_run(GTK_DIALOG(dialog));
            job->dialog = nullptr;
            r->accepted = !job->cancelled && (response == GTK_RESPONSE_ACCEPT || response == GTK_RESPONSE_OK);
            if (r->accepted) ReadAnswer(r, dialog, view);
            gtk_widget_destroy(dialog);
            if (store) g_object_unref(store);
        }
    }
    {
        std::lock_guard<std::mutex> hold(gtkState.lock);
        job->done = true;
    }
    gtkState.changed.notify_all();
    delete ref;
    return G_SOURCE_REMOVE;
}

gboolean CancelDialog(gpointer data)
{
    lvJobRef *ref = (lvJobRef *)data;
    lvGtkJob *job;
    {
        std::lock_guard<std::mutex> hold(gtkState.lock);
        job = ref->get();
    }
    job->cancelled = true;
    if (job->dialog) gtk_dialog_response(GTK_DIALOG(job->dialog), GTK_RESPONSE_CANCEL);
    delete ref;
    return G_SOURCE_REMOVE;
}

bool EnsureStarted(void)
{
    std::unique_lock<std::mutex> hold(gtkState.lock);
    if (gtkState.started == 0 && !gtkState.thread.joinable()) {
        gtkState.thread = std::thread(GtkThreadMain);
    }
    gtkState.changed.wait(hold, [] { return gtkState.started != 0; });
    return gtkState.started > 0;
}

int RunDialog(lvGtkRequest *request, int (*stopRequested)(void))
{
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) return ERR_UNSUPPORTEDFEAT;
    if (!EnsureStarted()) return ERR_UNSUPPORTEDFEAT;
    // The job is handed over under the lock ShowDialog takes first.
    std::unique_lock<std::mutex> hold(gtkState.lock);
    lvJobRef job = std::make_shared<lvGtkJob>(lvGtkJob{request, nullptr, false, false});
    g_idle_add(ShowDialog, new lvJobRef(job));
    bool stopSent = false;
    while (!job->done) {
        gtkState.changed.wait_for(hold, std::chrono::milliseconds(100));
        if (!job->done && !stopSent && stopRequested && stopRequested()) {
            stopSent = true;
            g_idle_add(CancelDialog, new lvJobRef(job));
        }
    }
    return stopSent && !request->accepted ? ERR_USERABORT : 0;
}

void SetTestHook(lvGtkTestHook hook, void *user)
{
    std::lock_guard<std::mutex> hold(gtkState.lock);
    gtkState.hook = hook;
    gtkState.hookUser = user;
}

gboolean QuitMain(gpointer)
{
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

void Shutdown(void)
{
    bool running;
    {
        std::lock_guard<std::mutex> hold(gtkState.lock);
        running = gtkState.started > 0;
    }
    if (running) g_idle_add(QuitMain, nullptr);
    if (gtkState.thread.joinable()) gtkState.thread.join();
    std::lock_guard<std::mutex> hold(gtkState.lock);
    gtkState.started = 0;
}

const lvGtkModule moduleTable = {RunDialog, SetTestHook, Shutdown};

}  // namespace

extern "C" __attribute__((visibility("default"))) const lvGtkModule *LvGtkDialogModule(void)
{
    return &moduleTable;
}
