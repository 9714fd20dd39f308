// The origins the launcher trusts against the origins the engine gives the
// documents: for every address of the table a document is loaded in a real web
// view under that address, and the origin its own script sees (the one the web
// process reads before any page script runs) must be the one the launcher lists.
#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <string>

#include "launcher/front_end_origins.h"
#include "platform/text.h"
#include "tests/support/main_loop.h"

namespace {

class EngineOrigin : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }
    void SetUp() override {
        window_ = gtk_offscreen_window_new();
        view_ = WEBKIT_WEB_VIEW(webkit_web_view_new());
        gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
        gtk_widget_show_all(window_);
        g_signal_connect(view_, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer self) {
                             if (event == WEBKIT_LOAD_FINISHED) static_cast<EngineOrigin*>(self)->loaded_ = true;
                         }),
                         this);
    }
    void TearDown() override { gtk_widget_destroy(window_); }

    // The origin of a document loaded under `address`, as its script sees it.
    std::string DocumentOrigin(const std::string& address) {
        loaded_ = false;
        webkit_web_view_load_html(view_, "<p>origin</p>", address.c_str());
        if (!qmtest::PumpMainLoopUntil([this] { return loaded_; }, std::chrono::seconds(60))) {
            ADD_FAILURE() << "no load of " << address;
            return "(no load)";
        }
        struct Result {
            bool done = false;
            std::string text;
        } result;
        webkit_web_view_evaluate_javascript(
            view_, "self.origin", -1, nullptr, nullptr, nullptr,
            +[](GObject* view, GAsyncResult* async, gpointer data) {
                auto* out = static_cast<Result*>(data);
                GError* error = nullptr;
                JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), async, &error);
                if (value) {
                    gchar* text = jsc_value_to_string(value);
                    out->text = text ? text : "";
                    g_free(text);
                    g_object_unref(value);
                } else {
                    out->text = std::string("(error) ") + (error ? error->message : "");
                    g_clear_error(&error);
                }
                out->done = true;
            },
            &result);
        if (!qmtest::PumpMainLoopUntil([&result] { return result.done; }, std::chrono::seconds(60))) {
            ADD_FAILURE() << "no script result for " << address;
            return "(no result)";
        }
        return result.text;
    }

    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    bool loaded_ = false;
};

TEST_F(EngineOrigin, TheLauncherWritesEveryFrontEndOriginAsTheEngineGivesItToTheDocument) {
    for (const char* address :
         {"http://127.0.0.1:8000/index.html?a=b#c", "HTTPS://Web.Example.COM/x", "https://web.example:443/",
          "http://web.example:80", "http://web.example:443/", "http://h:0080/", "http://user:pw@h:81/",
          "http://[::1]:8080/p", "http://h?inner=pc", "https://B\xc3\xbc" "cher.Example/",
          "http://ex\xc3\xa4mple.\xc3\xa9/", "http://%41b.example/", "http://127.1:8000/", "http://0x7f.0.0.1/",
          "http://2130706433/", "http://[0:0::1]/", "http://[::FFFF:127.0.0.1]/", "http://h./", "http://h\\x"}) {
        std::string listed = OriginOfAddress(address);
        ASSERT_FALSE(listed.empty()) << address;
        EXPECT_EQ(DocumentOrigin(address), listed) << address;
    }
}

TEST_F(EngineOrigin, AnInternationalFrontEndHostOfTheDeploymentFileMatchesItsDocuments) {
    DeployConfig deploy;
    deploy.frontendDefault = platform::Utf8ToWide("R\xc3\xa4wen.Example");
    std::vector<std::string> origins = FrontEndOrigins(CCmdLineParser(L"*cid:1"), deploy);
    ASSERT_EQ(origins.size(), 1u);
    EXPECT_EQ(origins[0], DocumentOrigin("https://r\xc3\xa4wen.example/start"));
}

}  // namespace
