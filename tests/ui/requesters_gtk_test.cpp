// The desktop dialogs over GTK3 under Xvfb. Each test process starts its own server (GTK
// binds to one display per process), calls the desktop back-end row as the commands do,
// and answers the dialog from the module's test hook, acting through GTK as a user would:
// typing character by character, choosing rows, files, fonts and colours. Skipped when
// Xvfb cannot start.
#include "tests/ui/xvfb_server.h"
#include "base/lverrors.h"
#include "ui/gtk_module.h"
#include "ui/requesters.h"
#include "vm/lvvm.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// GTK and the desktop libraries under it keep process-wide caches (the font
// configuration, the session bus, type tables) that they never free; the leak checker
// is told about those libraries here, in this program only, so that leaks of our own
// code, which would not pass through them, are still reported.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n"
           "leak:libpango\n"
           "leak:libcairo.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libatk\n";
}

// Those libraries are not built for the race checker: the accesses their own threads make
// to their own state (the font configuration above all) look unsynchronised to it.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libfontconfig.so\n"
           "race:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libgtk-3.so\n"
           "race:libgdk-3.so\n"
           "race:libpango\n"
           "race:libcairo.so\n"
           "race:libharfbuzz.so\n"
           "race:libdbus-1.so\n"
           "race:libX11.so\n";
}

namespace {

using Clock = std::chrono::steady_clock;


// What the hook does to the dialog of the current test (on the GTK thread).
std::function<void(GtkWidget *, const lvGtkRequest *)> answer;
int hookCalls = 0;

// Each dialog is drawn into a picture kept with the build as it opens
// (tests/ui/gtk_screens/<n>-<kind>.png).
void KeepScreenshot(GtkWidget *dialog, const lvGtkRequest *request)
{
    static int count = 0;
    std::string folder = std::string(LV_BUILD_DIR) + "/tests/ui/gtk_screens";
    mkdir(folder.c_str(), 0755);
    int width = gtk_widget_get_allocated_width(dialog), height = gtk_widget_get_allocated_height(dialog);
    if (width < 1 || height < 1) return;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t *cr = cairo_create(surface);
    gtk_widget_draw(dialog, cr);
    cairo_destroy(cr);
    std::string path = folder + "/" + std::to_string(++count) + "-" + std::to_string(request->kind) + ".png";
    cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
}

void Hook(void *dialog, const lvGtkRequest *request, void *)
{
    hookCalls++;
    KeepScreenshot((GtkWidget *)dialog, request);
    if (answer) answer((GtkWidget *)dialog, request);
}

// Types text into the focused entry one character at a time, as keystrokes would.
void TypeInto(GtkWidget *dialog, const std::string &text)
{
    GtkWidget *entry = gtk_window_get_focus(GTK_WINDOW(dialog));
    ASSERT_TRUE(entry && GTK_IS_ENTRY(entry));
    gtk_entry_set_text(GTK_ENTRY(entry), "");
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        while (i + n < text.size() && ((unsigned char)text[i + n] & 0xC0) == 0x80) n++;
        gint position = -1;
        position = (gint)strlen(gtk_entry_get_text(GTK_ENTRY(entry)));
        gtk_editable_insert_text(GTK_EDITABLE(entry), text.c_str() + i, (gint)n, &position);
        i += n;
    }
}

// Answers once ready() holds (the file chooser fills its view asynchronously).
struct lvWhenReady {
    GtkWidget *dialog;
    std::function<bool()> ready;
    int response;
    int tries;
};

gboolean RespondWhenReady(gpointer data)
{
    lvWhenReady *w = (lvWhenReady *)data;
    if (!w->ready() && ++w->tries < 200) return G_SOURCE_CONTINUE;
    gtk_dialog_response(GTK_DIALOG(w->dialog), w->response);
    g_object_unref(w->dialog);
    delete w;
    return G_SOURCE_REMOVE;
}

void RespondWhen(GtkWidget *dialog, std::function<bool()> ready, int response)
{
    g_object_ref(dialog);
    g_timeout_add(25, RespondWhenReady, new lvWhenReady{dialog, std::move(ready), response, 0});
}

class GtkDialogs : public testing::Test {
protected:
    static pid_t xvfb;
    static std::string folder;
    const lvRequesterBackend *row = DesktopRequesterBackend();

    static void SetUpTestSuite()
    {
        std::string display;
        xvfb = StartXvfb(&display, "1024x768x24");
        if (xvfb < 0) return;
        setenv("DISPLAY", display.c_str(), 1);
        setenv("LV_GTK_MODULE", LV_BIN_DIR "/lv_gtkdialogs.so", 1);
        setenv("GSETTINGS_BACKEND", "memory", 1);  // no session bus in CI
        char dir[] = "/tmp/lv_gtk_XXXXXX";
        folder = mkdtemp(dir);
        mkdir((folder + "/a").c_str(), 0700);
        for (const char *name : {"/a/one.png", "/a/two.png", "/a/notes.txt"}) std::ofstream(folder + name) << "x";
    }
    static void TearDownTestSuite()
    {
        ShutdownRequesters();
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
        }
    }
    void SetUp() override
    {
        if (xvfb < 0) GTEST_SKIP() << "Xvfb did not start";
        const lvGtkModule *module = DesktopDialogModule();
        ASSERT_NE(module, nullptr);
        module->SetTestHook(Hook, nullptr);
        hookCalls = 0;
        gVMRun.stopRequest = 0;
    }
    void TearDown() override
    {
        answer = nullptr;
        gVMRun.stopRequest = 0;
    }
};

pid_t GtkDialogs::xvfb = -1;
std::string GtkDialogs::folder;

TEST_F(GtkDialogs, FilesAreChosenSavedAndCancelled)
{
    // Several files in one folder come back as full paths, through the filter given.
    answer = [](GtkWidget *dialog, const lvGtkRequest *r) {
        EXPECT_EQ(r->filters.size(), 1u);
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
        RespondWhen(
            dialog,
            [chooser] {
                // Ctrl+A again each tick, as the folder's view fills asynchronously; the
                // images filter leaves notes.txt out.
                gtk_file_chooser_select_all(chooser);
                GSList *names = gtk_file_chooser_get_filenames(chooser);
                guint n = g_slist_length(names);
                g_slist_free_full(names, g_free);
                return n == 2;
            },
            GTK_RESPONSE_ACCEPT);
    };
    lvFileFilter images = {nullptr, "Images", "png", "", 0};
    std::vector<std::string> paths;
    ASSERT_EQ(row->File(nullptr, "Pick", "*.png", 1, (folder + "/a").c_str(), "", &images, &paths), 0);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{folder + "/a/one.png", folder + "/a/two.png"}));
    EXPECT_EQ(hookCalls, 1);

    // Saving: the offered name in the offered folder, overwrite confirmation on.
    answer = [](GtkWidget *dialog, const lvGtkRequest *) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        EXPECT_TRUE(gtk_file_chooser_get_do_overwrite_confirmation(chooser));
        gtk_file_chooser_set_current_name(chooser, "new.txt");
        RespondWhen(
            dialog,
            [chooser] {
                char *name = gtk_file_chooser_get_filename(chooser);
                bool ok = name && std::string(name) == folder + "/a/new.txt";
                g_free(name);
                return ok;
            },
            GTK_RESPONSE_ACCEPT);
    };
    paths.clear();
    ASSERT_EQ(row->File(nullptr, "Save", "*.*", 2, (folder + "/a").c_str(), "old.txt", nullptr, &paths), 0);
    EXPECT_EQ(paths, std::vector<std::string>{folder + "/a/new.txt"});

    // Cancel gives nothing and no error.
    answer = [](GtkWidget *dialog, const lvGtkRequest *) { gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL); };
    paths.clear();
    ASSERT_EQ(row->File(nullptr, "Pick", "*.*", 0, folder.c_str(), "", nullptr, &paths), 0);
    EXPECT_TRUE(paths.empty());

    // A folder: accepting with no row selected chooses the folder shown. Selecting a row is
    // no use here, as GTK may drop the selection when the folder's listing finishes loading.
    answer = [](GtkWidget *dialog, const lvGtkRequest *) {
        GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
        RespondWhen(
            dialog,
            [chooser] {
                char *name = gtk_file_chooser_get_filename(chooser);
                bool ok = name && std::string(name) == folder + "/a";
                g_free(name);
                return ok;
            },
            GTK_RESPONSE_ACCEPT);
    };
    std::string chosenPath;
    int chosen = 0;
    ASSERT_EQ(row->Path(nullptr, "Folder", (folder + "/a").c_str(), &chosenPath, &chosen), 0);
    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(chosenPath, folder + "/a");
}

TEST_F(GtkDialogs, TextFieldKeepsWholeCharactersAndNumbers)
{
    struct Case {
        const char *offered;
        int numeric, maxLength, password;
        const char *typed;  // null: confirm the offered text
        const char *expected;
        bool paste;  // the whole text in one insertion
    } cases[] = {
        {"", 0, 2, 0, "h\xC3\xA9llo", "h", true},    // "é" does not fit in two bytes: not half of it
        {"", 0, 2, 0, "h\xC3\xA9llo", "hl", false},  // each key that does not fit is refused
        {"", 1, 0, 0, "1a2.3.4", "12.34", false},            // letters and a second point refused
        {"", 1, 3, 0, "-12345", "-12", false},
        {"keep", 0, 0, 1, nullptr, "keep", false},
        {"", 0, 0, 0, "caf\xC3\xA9", "caf\xC3\xA9", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed ? c.typed : c.offered);
        answer = [&c](GtkWidget *dialog, const lvGtkRequest *) {
            GtkWidget *entry = gtk_window_get_focus(GTK_WINDOW(dialog));
            ASSERT_TRUE(entry && GTK_IS_ENTRY(entry));
            EXPECT_EQ(gtk_entry_get_visibility(GTK_ENTRY(entry)), !c.password);
            if (c.typed && c.paste) {
                gint position = 0;
                gtk_editable_insert_text(GTK_EDITABLE(entry), c.typed, -1, &position);
            } else if (c.typed) {
                TypeInto(dialog, c.typed);
            }
            gtk_widget_activate(entry);  // Return: the default answer
        };
        std::string out;
        int confirmed = 0;
        ASSERT_EQ(row->String(nullptr, "Text", "Your text:", c.offered, c.numeric, c.maxLength, c.password, &out,
                              &confirmed),
                  0);
        EXPECT_EQ(confirmed, 1);
        EXPECT_EQ(out, c.expected);
    }
}

TEST_F(GtkDialogs, ListFontAndColourAnswers)
{
    answer = [](GtkWidget *dialog, const lvGtkRequest *r) {
        EXPECT_EQ(r->items, (std::vector<std::string>{"red", "green", "blue"}));
        GtkWidget *focus = gtk_window_get_focus(GTK_WINDOW(dialog));
        ASSERT_TRUE(focus && GTK_IS_TREE_VIEW(focus));
        GtkTreePath *path = gtk_tree_path_new_from_indices(2, -1);
        gtk_tree_view_set_cursor(GTK_TREE_VIEW(focus), path, nullptr, FALSE);
        gtk_tree_path_free(path);
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    };
    int index = -5;
    ASSERT_EQ(row->List(nullptr, "Pick", "Colours", std::string("red\0green\0blue\0\0", 16), 1, &index), 0);
    EXPECT_EQ(index, 2);

    answer = [](GtkWidget *dialog, const lvGtkRequest *) {
        gtk_font_chooser_set_font(GTK_FONT_CHOOSER(dialog), "DejaVu Serif Bold Italic 17");
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    };
    lvFontAnswer font = {};
    ASSERT_EQ(row->Font(nullptr, "Sans", 12, &font), 0);
    EXPECT_EQ(font.family, "DejaVu Serif");
    EXPECT_DOUBLE_EQ(font.size, 17);
    EXPECT_EQ(font.weight, 200);
    EXPECT_EQ(font.slant, 100);
    EXPECT_EQ(font.underline, 0);
    EXPECT_EQ(font.strikeout, 0);

    answer = [](GtkWidget *dialog, const lvGtkRequest *) {
        GdkRGBA rgba;
        gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(dialog), &rgba);
        EXPECT_NEAR(rgba.red, 0x11 / 255.0, 1e-6);  // the offered colour is shown
        GdkRGBA chosen = {0x33 / 255.0, 0x66 / 255.0, 0x99 / 255.0, 1};
        gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(dialog), &chosen);
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    };
    int32_t colour = 0;
    ASSERT_EQ(row->Color(nullptr, 0x112233, &colour), 0);
    EXPECT_EQ(colour, 0x336699);

    answer = [](GtkWidget *dialog, const lvGtkRequest *) { gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT); };
    ASSERT_EQ(row->Color(nullptr, 0x112233, &colour), 0);
    EXPECT_EQ(colour, -1);
}

TEST_F(GtkDialogs, AStopRequestClosesTheOpenDialog)
{
    // Nobody answers; the run is asked to stop while the dialog is up.
    answer = [](GtkWidget *, const lvGtkRequest *) { gVMRun.stopRequest = 1; };
    int index = 0;
    auto start = Clock::now();
    EXPECT_EQ(row->List(nullptr, "Pick", "", std::string("a\0b\0\0", 5), 0, &index), ERR_USERABORT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(hookCalls, 1);
    // The GTK thread is free again for the next dialog.
    gVMRun.stopRequest = 0;
    answer = [](GtkWidget *dialog, const lvGtkRequest *) { gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK); };
    ASSERT_EQ(row->List(nullptr, "Pick", "", std::string("a\0b\0\0", 5), 1, &index), 0);
    EXPECT_EQ(index, 1);
}

TEST(GtkDialogsWithoutDisplay, AnswerUnsupportedAtOnce)
{
    unsetenv("DISPLAY");
    setenv("LV_GTK_MODULE", LV_BIN_DIR "/lv_gtkdialogs.so", 1);
    int32_t colour = 0;
    EXPECT_EQ(DesktopRequesterBackend()->Color(nullptr, 0, &colour), ERR_UNSUPPORTEDFEAT);
    std::string out;
    int confirmed = 0;
    EXPECT_EQ(DesktopRequesterBackend()->String(nullptr, "", "", "", 0, 0, 0, &out, &confirmed), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(confirmed, 0);
}

}  // namespace

TEST_F(GtkDialogs, TextTypedAtTheDialogByAnotherProgram)
{
    if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
    // The hook only tells which window opened; xdotool types at it through the X server
    // as a user's keyboard would, and Return confirms.
    std::atomic<unsigned long> window{0};
    answer = [&window](GtkWidget *dialog, const lvGtkRequest *) {
        window = (unsigned long)GDK_WINDOW_XID(gtk_widget_get_window(dialog));
    };
    int typed = -1;
    std::thread typist([&] {
        auto end = Clock::now() + std::chrono::seconds(20);
        while (!window && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!window) return;
        std::string id = std::to_string(window.load());
        std::string shot = std::string(LV_BUILD_DIR) + "/tests/ui/gtk_screens/typed.png";
        typed = std::system(("timeout 15 xdotool windowfocus --sync " + id + " type --delay 20 'typed 42' && " +
                             "(command -v import >/dev/null && import -window root '" + shot + "' || true) && " +
                             "timeout 15 xdotool key Return")
                                .c_str());
    });
    std::string out;
    int confirmed = 0;
    int code = row->String(nullptr, "Typed", "Type here:", "", 0, 0, 0, &out, &confirmed);
    typist.join();
    ASSERT_EQ(code, 0);
    EXPECT_EQ(typed, 0);
    EXPECT_EQ(confirmed, 1);
    EXPECT_EQ(out, "typed 42");
}
