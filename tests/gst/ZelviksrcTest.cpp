// zelviksrc in pipelines on the FUSE emulator: caps in each format, buffers and timestamps, properties
// reaching the camera, and an unplugged camera ending the pipeline with an error.
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/Scene.h"
#include "include/ZelvikSdk.h"
#include "tests/support/ConfigHome.h"
#include "tests/support/FuseEmulator.h"
#include "tests/support/TempDir.h"

namespace zelvik::test {
namespace {

constexpr int kBarWidth = 2592 / 8;  // white, yellow, cyan, green, magenta, red (6th), blue, gray

// Frames of an appsink as plain memory with their caps.
struct Frame {
    std::string format;
    int width = 0, height = 0;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    guint64 offset = GST_BUFFER_OFFSET_NONE;
    bool discont = false;
    std::vector<uint8_t> bytes;
    int stride = 0;

    const uint8_t* Pixel(int x, int y, int bytesPerPixel) const {
        return bytes.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bytesPerPixel;
    }
    // Mean of one byte of every pixel in a box of the frame (channel 0 for gray).
    double Mean(int x0, int y0, int w, int h, int bytesPerPixel, int channel) const {
        double sum = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) sum += Pixel(x, y, bytesPerPixel)[channel];
        return sum / (w * h);
    }
};

class ZelviksrcTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::setenv("GST_REGISTRY", ZELVIK_GST_REGISTRY, 1);
        gst_init(nullptr, nullptr);
        GError* error = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(ZELVIK_GST_PLUGIN, &error);
        ASSERT_NE(plugin, nullptr) << (error ? error->message : "");
        gst_object_unref(plugin);
    }

    void SetUp() override {
        const std::string why = FuseEmulator::Unavailable();
        if (!why.empty()) GTEST_SKIP() << why;
        config_.emplace();
    }

    // The pipeline goes before the emulator, so that no file of the mount is open when it unmounts.
    void TearDown() override {
        StopPipeline();
        if (emulator_) {
            const std::string fault = emulator_->Stop();
            EXPECT_EQ(fault, "");
            emulator_.reset();
        }
        config_.reset();
    }

    void StartEmulator(const std::vector<std::string>& options = {}) {
        emulator_.emplace(ZELVIK_EMULATOR_PATH, options,
                          [](const std::string& fault) { ADD_FAILURE() << fault; });
        ASSERT_TRUE(emulator_->Ready()) << emulator_->Error();
        ::setenv("ZELVIK_ROOT", emulator_->Root().c_str(), 1);
    }

    // Builds `description` (its appsink named "sink") and sets it playing.
    void Play(const std::string& description) {
        GError* error = nullptr;
        pipeline_ = gst_parse_launch(description.c_str(), &error);
        ASSERT_NE(pipeline_, nullptr) << (error ? error->message : "");
        src_ = gst_bin_get_by_name(GST_BIN(pipeline_), "src");
        sink_ = gst_bin_get_by_name(GST_BIN(pipeline_), "sink");
        ASSERT_NE(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    }

    void StopPipeline() {
        if (pipeline_ == nullptr) return;
        EXPECT_EQ(gst_element_set_state(pipeline_, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        if (src_) gst_object_unref(src_);
        if (sink_) gst_object_unref(sink_);
        gst_object_unref(pipeline_);
        pipeline_ = src_ = sink_ = nullptr;
    }

    // The next frame of the appsink; nothing at the end of the stream or after 20 s (a hang guard).
    std::optional<Frame> Pull() {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 20 * GST_SECOND);
        if (sample == nullptr) return std::nullopt;
        Frame frame;
        const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        frame.format = gst_structure_get_string(caps, "format");
        gst_structure_get_int(caps, "width", &frame.width);
        gst_structure_get_int(caps, "height", &frame.height);
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        frame.pts = GST_BUFFER_PTS(buffer);
        frame.offset = GST_BUFFER_OFFSET(buffer);
        frame.discont = GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            frame.bytes.assign(map.data, map.data + map.size);
            gst_buffer_unmap(buffer, &map);
        }
        frame.stride = frame.height > 0 ? static_cast<int>(frame.bytes.size()) / frame.height : 0;
        gst_sample_unref(sample);
        return frame;
    }

    // The end of the stream or an error on the bus within `seconds` (a hang guard): true for the end.
    bool WaitForEos(int seconds) {
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, seconds * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        gst_object_unref(bus);
        const bool eos = message != nullptr && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        if (message) gst_message_unref(message);
        return eos;
    }

    // The first error on the bus within `seconds` (a hang guard).
    GstMessage* WaitForError(int seconds) {
        GstBus* bus = gst_element_get_bus(pipeline_);
        GstMessage* message = gst_bus_timed_pop_filtered(bus, seconds * GST_SECOND, GST_MESSAGE_ERROR);
        gst_object_unref(bus);
        return message;
    }

    std::optional<FuseEmulator> emulator_;
    std::optional<ConfigHome> config_;
    GstElement* pipeline_ = nullptr;
    GstElement* src_ = nullptr;
    GstElement* sink_ = nullptr;
};

struct FormatCase {
    const char* format;
    int bytesPerPixel;
    int stride;  // at 648 pixels: rows padded to 4 bytes
};

TEST_F(ZelviksrcTest, NegotiatesEachFormatFromDownstreamCaps) {
    StartEmulator();
    for (const FormatCase& c : {FormatCase{"BGR", 3, 1944}, FormatCase{"BGRx", 4, 2592}, FormatCase{"GRAY8", 1, 648},
                                FormatCase{"GRAY16_LE", 2, 1296}}) {
        SCOPED_TRACE(c.format);
        Play(std::string("zelviksrc name=src subsample=4 ! video/x-raw,format=") + c.format +
             " ! appsink name=sink sync=false");
        const auto frame = Pull();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->format, c.format);
        EXPECT_EQ(frame->width, 648);
        EXPECT_EQ(frame->height, 486);
        EXPECT_EQ(frame->stride, c.stride);
        const int gray = kBarWidth / 8, red = 5 * kBarWidth / 4 + kBarWidth / 8;  // bar centres at 1/4
        if (c.bytesPerPixel >= 3) {
            // blue, green, red in memory: the left bar is light gray, the red bar red
            for (int channel : {0, 1, 2}) EXPECT_NEAR(frame->Mean(gray, 100, 8, 8, c.bytesPerPixel, channel), 191, 8);
            EXPECT_LT(frame->Mean(red, 100, 8, 8, c.bytesPerPixel, 0), 20);
            EXPECT_LT(frame->Mean(red, 100, 8, 8, c.bytesPerPixel, 1), 20);
            EXPECT_GT(frame->Mean(red, 100, 8, 8, c.bytesPerPixel, 2), 170);
        } else {
            // the high byte: 16-bit samples span the full range
            const int high = c.bytesPerPixel - 1;
            EXPECT_NEAR(frame->Mean(gray, 100, 8, 8, c.bytesPerPixel, high), 191, 12);
            EXPECT_LT(frame->Mean(red, 100, 8, 8, c.bytesPerPixel, high), 150);
        }
        if (c.bytesPerPixel == 1) {
            // luminance: the red bar is an even gray, not the sensor's red and dark sites
            EXPECT_NEAR(frame->Mean(red, 100, 8, 8, 1, 0), 0.30 * 191, 6);
            EXPECT_EQ(*frame->Pixel(red, 100, 1), *frame->Pixel(red + 1, 101, 1));
        }
        StopPipeline();
    }
}

TEST_F(ZelviksrcTest, CapsThatTheCameraCannotGiveFailToNegotiate) {
    StartEmulator();
    Play("zelviksrc name=src subsample=4 ! video/x-raw,format=I420 ! appsink name=sink");
    GstMessage* error = WaitForError(20);
    ASSERT_NE(error, nullptr);
    gst_message_unref(error);
}

TEST_F(ZelviksrcTest, ThirtyFullFramesWithIncreasingTimestampsThenTheEnd) {
    StartEmulator();
    Play("zelviksrc name=src num-buffers=30 ! appsink name=sink sync=false");
    GstClockTime previous = GST_CLOCK_TIME_NONE;
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        const auto frame = Pull();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->format, "BGR");
        EXPECT_EQ(frame->bytes.size(), 2592u * 3 * 1944);
        ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(frame->pts));
        if (GST_CLOCK_TIME_IS_VALID(previous)) {
            EXPECT_GT(frame->pts, previous);
        }
        previous = frame->pts;
    }
    EXPECT_FALSE(Pull());
    EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink_)));
}

struct PropertyCase {
    const char* property;
    double value;
    int x;  // box in a 648-wide BGR frame
    int channel;
    double low, high;  // bounds of the box's mean after the change over its mean before
};

TEST_F(ZelviksrcTest, PropertyChangesWhilePlayingReachTheCamera) {
    StartEmulator();
    const int gray = kBarWidth / 8, red = 5 * kBarWidth / 4 + kBarWidth / 8;
    // The global gain adds to the colour gains on the sensor (8 + 16 of 32 at unity 16 + 16); exposure and
    // white balance scale; gamma below 1 lifts the midtones.
    for (const PropertyCase& c : {PropertyCase{"gain", 8, gray, 1, 0.65, 0.85},
                                  PropertyCase{"exposure", 550, gray, 1, 0.4, 0.6},
                                  PropertyCase{"white-balance-red", 0.5, red, 2, 0.4, 0.6},
                                  PropertyCase{"gamma", 0.5, gray, 1, 1.1, 3.0}}) {
        SCOPED_TRACE(c.property);
        Play("zelviksrc name=src subsample=4 gain=16 exposure=1100 gamma=1.0 white-balance-red=1.0 ! "
             "appsink name=sink sync=false max-buffers=1 drop=true");
        auto frame = Pull();
        ASSERT_TRUE(frame);
        const double before = frame->Mean(c.x, 100, 8, 8, 3, c.channel);
        GValue value = G_VALUE_INIT;
        GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(src_), c.property);
        g_value_init(&value, spec->value_type);
        if (spec->value_type == G_TYPE_INT) g_value_set_int(&value, static_cast<int>(c.value));
        else g_value_set_double(&value, c.value);
        g_object_set_property(G_OBJECT(src_), c.property, &value);
        g_value_unset(&value);
        // Frames already on their way show the old setting; the change shows within a few frames.
        double ratio = 1;
        for (int i = 0; i < 20 && (ratio < c.low || ratio > c.high); ++i) {
            frame = Pull();
            ASSERT_TRUE(frame);
            ratio = frame->Mean(c.x, 100, 8, 8, 3, c.channel) / before;
        }
        EXPECT_GE(ratio, c.low);
        EXPECT_LE(ratio, c.high);
        StopPipeline();
    }
}

TEST_F(ZelviksrcTest, WindowAndSubsamplingReachTheSensor) {
    StartEmulator();
    Play("zelviksrc name=src roi-x=1620 roi-y=40 roi-width=324 roi-height=120 subsample=2 ! appsink name=sink");
    const auto frame = Pull();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->width, 162);
    EXPECT_EQ(frame->height, 60);
    EXPECT_NE(emulator_->Status().find("window 1620,40 324x120 skip 1/2,1/2"), std::string::npos)
        << emulator_->Status();
    // the window is the red bar
    EXPECT_GT(frame->Mean(40, 20, 80, 20, 3, 2), 170);
    EXPECT_LT(frame->Mean(40, 20, 80, 20, 3, 1), 20);
}

// The colour bars keep their colours for every window the element takes (even x, y, width and height);
// an odd one fails the start (below).
TEST_F(ZelviksrcTest, EveryWindowTheElementTakesKeepsTheColours) {
    StartEmulator();
    struct Bar {
        int index;
        bool blue, green, red;  // in memory order
    };
    const Bar bars[] = {{1, false, true, true}, {5, false, false, true}, {6, true, false, false}};  // yellow, red, blue
    struct Window {
        int x, y, width, height;  // width 0: to the right edge
    };
    for (const Window& w : {Window{0, 0, 0, 64}, Window{2, 0, 0, 64}, Window{0, 2, 0, 64}, Window{2, 2, 0, 62},
                            Window{324, 10, 1944, 40}}) {
        const std::string window = "roi-x=" + std::to_string(w.x) + " roi-y=" + std::to_string(w.y) +
                                   " roi-width=" + std::to_string(w.width) + " roi-height=" + std::to_string(w.height);
        SCOPED_TRACE(window);
        Play("zelviksrc name=src " + window + " ! appsink name=sink sync=false");
        const auto frame = Pull();
        ASSERT_TRUE(frame);
        for (const Bar& bar : bars) {
            const int column = bar.index * kBarWidth + kBarWidth / 2 - w.x;
            if (column < 8 || column + 8 > frame->width) continue;
            const bool expected[3] = {bar.blue, bar.green, bar.red};
            for (int channel = 0; channel < 3; ++channel) {
                const double mean = frame->Mean(column - 4, frame->height / 2 - 4, 8, 8, 3, channel);
                if (expected[channel]) EXPECT_GT(mean, 128) << "bar " << bar.index << " channel " << channel;
                else EXPECT_LT(mean, 60) << "bar " << bar.index << " channel " << channel;
            }
        }
        StopPipeline();
    }
}

// A pipeline's properties are its own: the next program finds the stored settings as they were, unless
// store-settings asks for the library's behaviour.
TEST_F(ZelviksrcTest, PropertiesAreNotStoredUnlessAsked) {
    StartEmulator();
    const auto storedGainAfter = [this](const std::string& properties) {
        Play("zelviksrc name=src subsample=4 " + properties + " ! appsink name=sink sync=false");
        EXPECT_TRUE(Pull());
        StopPipeline();
        Play("zelviksrc name=src subsample=4 ! appsink name=sink sync=false");
        EXPECT_TRUE(Pull());
        int gain = -1, exposure = -1;
        g_object_get(src_, "gain", &gain, "exposure", &exposure, nullptr);
        StopPipeline();
        return std::make_pair(gain, exposure);
    };
    const auto stored = storedGainAfter("");
    EXPECT_EQ(storedGainAfter("gain=4 exposure=550"), stored);
    EXPECT_EQ(storedGainAfter("gain=4 exposure=550 store-settings=true"), std::make_pair(4, 550));
}

struct StartFailure {
    const char* properties;
    int code;  // GstResourceError
};

TEST_F(ZelviksrcTest, AMissingCameraOrAnImpossibleWindowFailsTheStart) {
    StartEmulator();
    for (const StartFailure& c : {StartFailure{"camera=1", GST_RESOURCE_ERROR_NOT_FOUND},
                                  StartFailure{"serial=Q77RX0002", GST_RESOURCE_ERROR_NOT_FOUND},
                                  StartFailure{"roi-x=2000 roi-width=640", GST_RESOURCE_ERROR_SETTINGS},
                                  StartFailure{"roi-width=12 roi-height=8 subsample=4", GST_RESOURCE_ERROR_SETTINGS},
                                  StartFailure{"subsample=3", GST_RESOURCE_ERROR_SETTINGS},
                                  StartFailure{"roi-x=1", GST_RESOURCE_ERROR_SETTINGS},
                                  StartFailure{"roi-y=1", GST_RESOURCE_ERROR_SETTINGS},
                                  StartFailure{"roi-width=641", GST_RESOURCE_ERROR_SETTINGS},
                                  StartFailure{"roi-height=63", GST_RESOURCE_ERROR_SETTINGS}}) {
        SCOPED_TRACE(c.properties);
        GError* error = nullptr;
        pipeline_ = gst_parse_launch((std::string("zelviksrc name=src ") + c.properties + " ! fakesink").c_str(), &error);
        ASSERT_NE(pipeline_, nullptr);
        EXPECT_EQ(gst_element_set_state(pipeline_, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
        GstMessage* message = WaitForError(5);
        ASSERT_NE(message, nullptr);
        GError* failure = nullptr;
        gst_message_parse_error(message, &failure, nullptr);
        EXPECT_TRUE(g_error_matches(failure, GST_RESOURCE_ERROR, c.code)) << failure->message;
        g_error_free(failure);
        gst_message_unref(message);
        StopPipeline();
    }
}

// Two elements on two cameras, each chosen by serial; a third element on a camera in use is refused its start.
TEST_F(ZelviksrcTest, ElementsChooseTheirCameraBySerialAndNeverShareOne) {
    StartEmulator({"--cameras", "2", "--fps", "max"});
    Play("zelviksrc name=src serial=Q77RX0002 subsample=4 ! appsink name=sink sync=false "
         "zelviksrc serial=Q77RX0001 subsample=4 ! fakesink");
    ASSERT_TRUE(Pull());
    EXPECT_NE(emulator_->Status().find("camera 2 sdc Q77RX0002 plugged word-protocol window 0,0 2592x1944 skip 1/4"),
              std::string::npos) << emulator_->Status();
    GstElement* third = gst_parse_launch("zelviksrc serial=Q77RX0002 ! fakesink", nullptr);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(gst_element_set_state(third, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    gst_element_set_state(third, GST_STATE_NULL);
    gst_object_unref(third);
    ASSERT_TRUE(Pull()) << "the first element streams on";
}

// The device provider lists the cameras by serial, makes a zelviksrc for each, and follows removals and
// arrivals.
TEST_F(ZelviksrcTest, TheDeviceMonitorListsAndFollowsTheCameras) {
    StartEmulator({"--cameras", "2", "--fps", "max"});
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    ASSERT_TRUE(gst_device_monitor_start(monitor));
    auto serials = [&] {
        std::vector<std::string> out;
        GList* devices = gst_device_monitor_get_devices(monitor);
        for (GList* d = devices; d != nullptr; d = d->next) {
            GstStructure* properties = gst_device_get_properties(GST_DEVICE(d->data));
            if (properties != nullptr && gst_structure_has_field(properties, "serial"))
                out.emplace_back(gst_structure_get_string(properties, "serial"));
            if (properties != nullptr) gst_structure_free(properties);
        }
        g_list_free_full(devices, gst_object_unref);
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(serials(), (std::vector<std::string>{"Q77RX0001", "Q77RX0002"}));

    GList* devices = gst_device_monitor_get_devices(monitor);
    ASSERT_NE(devices, nullptr);
    GstElement* element = gst_device_create_element(GST_DEVICE(devices->data), nullptr);
    ASSERT_NE(element, nullptr);
    gchar* serial = nullptr;
    g_object_get(element, "serial", &serial, nullptr);
    EXPECT_TRUE(serial != nullptr && std::string(serial).rfind("Q77RX000", 0) == 0);
    g_free(serial);
    gst_object_unref(element);
    g_list_free_full(devices, gst_object_unref);

    GstBus* bus = gst_device_monitor_get_bus(monitor);
    // The device messages are extended types, which a bus filter matches as a mask (a filter for removals
    // also takes additions): each message is compared whole. The bound is against hanging only.
    auto next = [&](GstMessageType type) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            GstMessage* m = gst_bus_timed_pop(bus, 100 * GST_MSECOND);
            if (m == nullptr) continue;
            const bool found = GST_MESSAGE_TYPE(m) == type;
            gst_message_unref(m);
            if (found) return true;
        }
        return false;
    };
    while (GstMessage* m = gst_bus_pop(bus)) gst_message_unref(m);  // the additions of the start
    ASSERT_TRUE(emulator_->Control("unplug 1"));
    ASSERT_TRUE(next(GST_MESSAGE_DEVICE_REMOVED));
    EXPECT_EQ(serials(), (std::vector<std::string>{"Q77RX0002"}));
    ASSERT_TRUE(emulator_->Control("replug 1"));
    ASSERT_TRUE(next(GST_MESSAGE_DEVICE_ADDED));
    EXPECT_EQ(serials(), (std::vector<std::string>{"Q77RX0001", "Q77RX0002"}));
    gst_object_unref(bus);
    gst_device_monitor_stop(monitor);
    gst_object_unref(monitor);
}

TEST_F(ZelviksrcTest, AnUnpluggedCameraPostsAnErrorAndThePipelineShutsDown) {
    StartEmulator();
    Play("zelviksrc name=src subsample=4 ! appsink name=sink sync=false");
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Pull());
    ASSERT_TRUE(emulator_->Control("unplug 1"));
    // A bound against hanging only: how soon the error comes is measured by the bindings benchmark.
    GstMessage* message = WaitForError(30);
    ASSERT_NE(message, nullptr);
    GError* failure = nullptr;
    gst_message_parse_error(message, &failure, nullptr);
    EXPECT_TRUE(g_error_matches(failure, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ)) << failure->message;
    EXPECT_STREQ(failure->message, "The camera was lost.");
    g_error_free(failure);
    gst_message_unref(message);
    StopPipeline();  // expects a clean change to NULL
}

}  // namespace
}  // namespace zelvik::test

namespace zelvik::test {
namespace {

// The frame the counter scene's pixels name (mod 224).
int CounterFrame(uint8_t level) { return emu::CounterSceneFrame(level); }

// The mosaic goes out as video/x-bayer in the format of the camera's Bayer mode (3 on the emulated sensor
// at the window's origin: green, red / blue, green). Recorded through gdppay (matroskamux in GStreamer
// 1.22 takes no video/x-bayer) and played back, each frame is the library's own 8-bit mosaic byte for
// byte; bayer2rgb turns it into the colour bars.
TEST_F(ZelviksrcTest, TheMosaicAsVideoBayerIsTheLibrarysRawFrameAndBayer2rgbGivesColour) {
    StartEmulator();
    const TempDir dir("zelviksrc-bayer");
    const std::string file = (dir.path() / "mosaic.gdp").string();
    Play("zelviksrc name=src subsample=4 num-buffers=3 ! video/x-bayer ! gdppay ! filesink location=" + file);
    ASSERT_TRUE(WaitForEos(20));
    StopPipeline();
    std::vector<Frame> recorded;
    Play("filesrc location=" + file + " ! gdpdepay ! appsink name=sink sync=false");
    while (auto frame = Pull()) recorded.push_back(*frame);
    StopPipeline();
    ASSERT_EQ(recorded.size(), 3u);

    // The library's raw frame of the same window, taken through its C interface.
    const int h = Zelvik_Initialize(0);
    ASSERT_NE(h, 0);
    std::vector<uint8_t> raw(648u * 486u);
    EXPECT_EQ(Zelvik_SetDeviceNumber(h, 0), 1);
    EXPECT_EQ(Zelvik_SetSubSample(h, 2), 1);
    EXPECT_EQ(Zelvik_SetColorMode(h, 8), 1);
    EXPECT_EQ(Zelvik_SetGrayMode(h, 0), 1);
    EXPECT_EQ(Zelvik_SnapShot(h, raw.data(), static_cast<int>(raw.size()), 1), 1);
    Zelvik_Release(h);
    for (const Frame& frame : recorded) {
        EXPECT_EQ(frame.format, "grbg");
        EXPECT_EQ(frame.width, 648);
        EXPECT_EQ(frame.height, 486);
        EXPECT_TRUE(frame.bytes == raw) << "a recorded frame differs from the library's mosaic";
    }

    Play("zelviksrc name=src subsample=4 ! video/x-bayer ! bayer2rgb ! video/x-raw,format=BGRx ! appsink name=sink "
         "sync=false");
    const auto colour = Pull();
    ASSERT_TRUE(colour);
    const int gray = kBarWidth / 8, red = 5 * kBarWidth / 4 + kBarWidth / 8;  // bar centres at 1/4
    for (int channel : {0, 1, 2}) EXPECT_NEAR(colour->Mean(gray, 100, 8, 8, 4, channel), 191, 12);
    EXPECT_LT(colour->Mean(red, 100, 8, 8, 4, 0), 30);
    EXPECT_LT(colour->Mean(red, 100, 8, 8, 4, 1), 30);
    EXPECT_GT(colour->Mean(red, 100, 8, 8, 4, 2), 160);
}

// Offsets are the library's frame numbers (the counter scene's pixels name the same frames), timestamps
// their arrival. A downstream slower than the camera makes the element pass frames over: the buffer after
// a loss is a discontinuity, and each loss is posted as QoS with the stream's count of frames lost so far,
// the same count the stats property gives.
TEST_F(ZelviksrcTest, BuffersCarryTheLibrarysFrameNumbersAndReportLosses) {
    StartEmulator({"--scene", "counter", "--fps", "40"});
    Play("zelviksrc name=src subsample=4 ! video/x-bayer ! appsink name=sink sync=false max-buffers=1");
    std::vector<Frame> frames;
    for (int i = 0; i < 12; ++i) {
        if (i % 3 == 2) std::this_thread::sleep_for(std::chrono::milliseconds(150));
        auto frame = Pull();
        ASSERT_TRUE(frame);
        frames.push_back(*frame);
    }
    GstStructure* stats = nullptr;
    g_object_get(src_, "stats", &stats, nullptr);
    ASSERT_NE(stats, nullptr);
    guint64 read = 0, pushed = 0, last = 0;
    EXPECT_TRUE(gst_structure_get_uint64(stats, "frames-read", &read));
    EXPECT_TRUE(gst_structure_get_uint64(stats, "frames-pushed", &pushed));
    EXPECT_TRUE(gst_structure_get_uint64(stats, "last-sequence", &last));
    gst_structure_free(stats);
    std::vector<guint64> qosDropped;
    GstBus* bus = gst_element_get_bus(pipeline_);
    while (GstMessage* qos = gst_bus_pop_filtered(bus, GST_MESSAGE_QOS)) {
        GstFormat format;
        guint64 processed = 0, dropped = 0;
        gst_message_parse_qos_stats(qos, &format, &processed, &dropped);
        EXPECT_EQ(format, GST_FORMAT_BUFFERS);
        qosDropped.push_back(dropped);
        gst_message_unref(qos);
    }
    gst_object_unref(bus);

    const int offset = static_cast<int>((CounterFrame(frames[0].bytes[0]) - frames[0].offset % 224 + 224) % 224);
    guint64 before = 0, lost = 0;
    std::vector<guint64> losses;  // the stream's count of lost frames at every buffer after a loss
    for (const Frame& frame : frames) {
        SCOPED_TRACE(frame.offset);
        ASSERT_GT(frame.offset, before);
        EXPECT_EQ(CounterFrame(frame.bytes[frame.bytes.size() / 2]), static_cast<int>((frame.offset + offset) % 224));
        // (The first buffer of a stream is a discontinuity anyway.)
        EXPECT_EQ(frame.discont, before == 0 || frame.offset > before + 1);
        if (frame.offset > before + 1) losses.push_back(lost += frame.offset - before - 1);
        before = frame.offset;
    }
    EXPECT_GT(lost, 0u) << "the slow downstream made the element pass frames over";
    ASSERT_GE(qosDropped.size(), losses.size());
    EXPECT_EQ(std::vector<guint64>(qosDropped.begin(), qosDropped.begin() + static_cast<long>(losses.size())), losses);
    EXPECT_EQ(last - pushed, qosDropped.back()) << "every frame before the last buffer was pushed or lost";
    EXPECT_GE(read, last);
    for (size_t i = 1; i < frames.size(); ++i) EXPECT_GT(frames[i].pts, frames[i - 1].pts);
}

}  // namespace
}  // namespace zelvik::test
