#include "platform/dshow/VideoWindow.h"

#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPaintEngine>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QWheelEvent>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dshow/VideoFrame.h"

#if VELOTRAX_HAVE_XCB
#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#endif

namespace {

// Draws the frame scaled to the surface; the rest stays black.
class CRasterSurface : public QWidget {
public:
    CRasterSurface(CVideoWindow* window) : QWidget(window), m_window(window) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        GstSample* sample = m_window->Store()->Get();
        GstVideoInfo info;
        QRect source, target;
        const bool placed =
            sample && vavideo::SampleInfo(sample, info) &&
            m_window->Place(QSize(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info)),
                            size(), source, target);
        const GstVideoRectangle crop{source.x(), source.y(), source.width(), source.height()};
        const int w = target.width(), h = target.height();
        bool drawn = false;
        if (placed) {
            // The window around the picture.
            const QRegion around = QRegion(rect()).subtracted(target);
            for (const QRect& r : around)
                painter.fillRect(r, Qt::black);
            // One conversion per painted frame: straight into the window's
            // backing store where the painter draws into a plain 32-bit
            // image at a whole-pixel offset and the whole surface is
            // repainted, else into an image that is then drawn.
            if (QImage* image = DirectTarget(painter, *event)) {
                const QPoint at = painter.deviceTransform().map(target.topLeft());
                // Opaque pixels: alpha 255 is the same premultiplied or not.
                const GstVideoFormat format = image->format() == QImage::Format_RGB32
                                                  ? GST_VIDEO_FORMAT_BGRx
                                                  : GST_VIDEO_FORMAT_BGRA;
                drawn = m_direct.Convert(
                    sample, format, w, h,
                    image->bits() + qsizetype(at.y()) * image->bytesPerLine() + at.x() * 4,
                    int(image->bytesPerLine()), false, false, &crop);
                if (drawn) {
                    gst_sample_unref(sample);
                    m_window->CountPainted();
                    return;
                }
            }
            if (m_image.size() != QSize(w, h))
                m_image = QImage(w, h, QImage::Format_RGB32);
            drawn = m_converter.Convert(sample, GST_VIDEO_FORMAT_BGRx, w, h, m_image.bits(),
                                        int(m_image.bytesPerLine()), false, false, &crop);
        }
        if (sample)
            gst_sample_unref(sample);
        if (drawn) {
            painter.drawImage(target.topLeft(), m_image);
            m_window->CountPainted();
        } else {
            painter.fillRect(rect(), Qt::black);
        }
    }

    // The backing-store image the painter draws into, when the frame can be
    // written into it directly: a raster engine on a 32-bit (A)RGB image at
    // scale 1, the painter only translated, the surface wholly inside the
    // image and the whole surface to be painted.
    QImage* DirectTarget(QPainter& painter, const QPaintEvent& event) {
        QPaintEngine* engine = painter.paintEngine();
        if (!engine || engine->type() != QPaintEngine::Raster)
            return nullptr;
        QPaintDevice* device = engine->paintDevice();
        if (!device || device->devType() != QInternal::Image)
            return nullptr;
        auto* image = static_cast<QImage*>(device);
        const QTransform transform = painter.deviceTransform();
        const QImage::Format format = image->format();
        if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
             format != QImage::Format_ARGB32) ||
            image->devicePixelRatio() != 1.0 || transform.type() > QTransform::TxTranslate ||
            transform.dx() != qreal(int(transform.dx())) ||
            transform.dy() != qreal(int(transform.dy())))
            return nullptr;
        const QRect placed = transform.mapRect(rect());
        if (!image->rect().contains(placed) || event.region() != QRegion(rect()))
            return nullptr;
        return image;
    }

private:
    CVideoWindow* m_window;
    CVideoFrameConverter m_converter;
    CVideoFrameConverter m_direct;  // its output stride is the backing store's
    QImage m_image;
};

const char* const kVertexShader =
    "attribute vec2 position;\n"
    "attribute vec2 texCoord;\n"
    "varying vec2 uv;\n"
    "void main() { uv = texCoord; gl_Position = vec4(position, 0.0, 1.0); }\n";

// kind 0: three planes (Y, U, V); 1: Y plus interleaved UV (.ra of a
// luminance-alpha texture); 2: packed RGB(A) in one texture, as is.
const char* const kFragmentShader =
    "#ifdef GL_ES\nprecision mediump float;\n#endif\n"
    "varying vec2 uv;\n"
    "uniform sampler2D plane0;\n"
    "uniform sampler2D plane1;\n"
    "uniform sampler2D plane2;\n"
    "uniform int kind;\n"
    "uniform mat3 yuvToRgb;\n"
    "uniform vec3 yuvOffset;\n"
    "void main() {\n"
    "  if (kind == 2) { gl_FragColor = vec4(texture2D(plane0, uv).rgb, 1.0); return; }\n"
    "  vec3 yuv;\n"
    "  yuv.x = texture2D(plane0, uv).r;\n"
    "  if (kind == 1) { vec4 c = texture2D(plane1, uv); yuv.y = c.r; yuv.z = c.a; }\n"
    "  else { yuv.y = texture2D(plane1, uv).r; yuv.z = texture2D(plane2, uv).r; }\n"
    "  gl_FragColor = vec4(clamp(yuvToRgb * (yuv + yuvOffset), 0.0, 1.0), 1.0);\n"
    "}\n";

// Converts the frame in a shader; formats it has no shader for are
// converted to BGRx on the CPU and drawn as a texture.
class CGLSurface : public QOpenGLWidget, protected QOpenGLFunctions {
public:
    CGLSurface(CVideoWindow* window) : QOpenGLWidget(window), m_window(window) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    ~CGLSurface() override {
        // The context outlives this part of the object: QOpenGLWidget's own
        // destructor destroys it, and the cleanup below must not run again then.
        QObject::disconnect(m_contextGone);
        makeCurrent();
        Cleanup();
        doneCurrent();
    }

protected:
    void initializeGL() override {
        initializeOpenGLFunctions();
        Cleanup();
        m_program = Link();
        glGenTextures(3, m_textures);
        for (GLuint t : m_textures) {
            glBindTexture(GL_TEXTURE_2D, t);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        }
        m_uploaded = nullptr;
        QObject::disconnect(m_contextGone);
        m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
            makeCurrent();
            Cleanup();
            doneCurrent();
        });
    }

    void paintGL() override {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        GstSample* sample = m_window->Store()->Get();
        if (!sample)
            return;
        bool ok = m_program && Upload(sample);
        gst_sample_unref(sample);
        QRect source, target;
        if (!ok || !m_window->Place(m_frameSize, size(), source, target))
            return;
        Draw(source, target);
        m_window->CountPainted();
    }

private:
    GLuint Compile(GLenum type, const char* source) {
        GLuint shader = glCreateShader(type);
        glShaderSource(shader, 1, &source, nullptr);
        glCompileShader(shader);
        GLint ok = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        if (!ok) {
            glDeleteShader(shader);
            return 0;
        }
        return shader;
    }

    GLuint Link() {
        GLuint vs = Compile(GL_VERTEX_SHADER, kVertexShader);
        GLuint fs = Compile(GL_FRAGMENT_SHADER, kFragmentShader);
        if (!vs || !fs) {
            if (vs)
                glDeleteShader(vs);
            if (fs)
                glDeleteShader(fs);
            return 0;
        }
        GLuint program = glCreateProgram();
        glAttachShader(program, vs);
        glAttachShader(program, fs);
        glBindAttribLocation(program, 0, "position");
        glBindAttribLocation(program, 1, "texCoord");
        glLinkProgram(program);
        glDeleteShader(vs);
        glDeleteShader(fs);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            glDeleteProgram(program);
            return 0;
        }
        return program;
    }

    void Cleanup() {
        if (!QOpenGLContext::currentContext())
            return;
        if (m_program)
            glDeleteProgram(m_program);
        m_program = 0;
        if (m_textures[0])
            glDeleteTextures(3, m_textures);
        m_textures[0] = m_textures[1] = m_textures[2] = 0;
        m_uploaded = nullptr;
    }

    void Plane(int index, GLenum format, int width, int height, int pixelBytes, int stride,
               const void* data) {
        glActiveTexture(GL_TEXTURE0 + index);
        glBindTexture(GL_TEXTURE_2D, m_textures[index]);
        // Rows are copied one plane at a time; strides that are not whole
        // pixels go through a packed copy.
        std::vector<uint8_t> packed;
        const uint8_t* src = static_cast<const uint8_t*>(data);
        if (stride != width * pixelBytes) {
            packed.resize(size_t(width) * pixelBytes * height);
            for (int y = 0; y < height; ++y)
                std::memcpy(&packed[size_t(y) * width * pixelBytes], src + size_t(y) * stride,
                            size_t(width) * pixelBytes);
            src = packed.data();
        }
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, format, GL_UNSIGNED_BYTE,
                     src);
    }

    bool Upload(GstSample* sample) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstVideoInfo info;
        if (!buffer || !vavideo::SampleInfo(sample, info))
            return false;
        // Textures are uploaded once per frame; repaints of the same frame draw them again.
        if (buffer == m_uploaded)
            return true;
        const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&info);
        const int w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
        m_frameSize = QSize(w, h);
        GstVideoFrame frame;
        switch (format) {
            case GST_VIDEO_FORMAT_I420:
            case GST_VIDEO_FORMAT_YV12:
            case GST_VIDEO_FORMAT_Y42B:
            case GST_VIDEO_FORMAT_Y444:
            case GST_VIDEO_FORMAT_NV12:
            case GST_VIDEO_FORMAT_NV21:
            case GST_VIDEO_FORMAT_GRAY8:
                break;
            default:
                return UploadConverted(sample, buffer, w, h);
        }
        if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
            return false;
        auto plane = [&](int texture, int component, GLenum glFormat, int bytes) {
            const int p = GST_VIDEO_FRAME_COMP_PLANE(&frame, component);
            Plane(texture, glFormat, GST_VIDEO_FRAME_COMP_WIDTH(&frame, component),
                  GST_VIDEO_FRAME_COMP_HEIGHT(&frame, component), bytes,
                  GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p), GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        };
        plane(0, GST_VIDEO_COMP_Y, GL_LUMINANCE, 1);
        if (format == GST_VIDEO_FORMAT_GRAY8) {
            static const uint8_t grey = 128;
            for (int t = 1; t < 3; ++t)
                Plane(t, GL_LUMINANCE, 1, 1, 1, 1, &grey);
            m_kind = 0;
        } else if (format == GST_VIDEO_FORMAT_NV12 || format == GST_VIDEO_FORMAT_NV21) {
            // Interleaved chroma: U in .r and V in .a of a luminance-alpha texture;
            // NV21 has them the other way round, which the matrix columns undo.
            plane(1, GST_VIDEO_COMP_U, GL_LUMINANCE_ALPHA, 2);
            m_kind = 1;
        } else {
            plane(1, GST_VIDEO_COMP_U, GL_LUMINANCE, 1);
            plane(2, GST_VIDEO_COMP_V, GL_LUMINANCE, 1);
            m_kind = 0;
        }
        gst_video_frame_unmap(&frame);
        vavideo::YuvToRgbMatrix(info, m_matrix, m_offset);
        if (format == GST_VIDEO_FORMAT_NV21) {
            for (int r = 0; r < 3; ++r)
                std::swap(m_matrix[r * 3 + 1], m_matrix[r * 3 + 2]);
            std::swap(m_offset[1], m_offset[2]);
        }
        m_uploaded = buffer;
        return true;
    }

    bool UploadConverted(GstSample* sample, GstBuffer* buffer, int w, int h) {
        if (m_rgb.size() != QSize(w, h))
            m_rgb = QImage(w, h, QImage::Format_RGBX8888);
        if (!m_converter.Convert(sample, GST_VIDEO_FORMAT_RGBx, w, h, m_rgb.bits(),
                                 int(m_rgb.bytesPerLine())))
            return false;
        Plane(0, GL_RGBA, w, h, 4, int(m_rgb.bytesPerLine()), m_rgb.constBits());
        m_kind = 2;
        m_uploaded = buffer;
        return true;
    }

    // Draws the source part of the frame's textures into the target part
    // of the surface (GL counts rows from the bottom).
    void Draw(const QRect& source, const QRect& target) {
        const GLfloat u0 = GLfloat(source.x()) / GLfloat(m_frameSize.width());
        const GLfloat u1 = GLfloat(source.x() + source.width()) / GLfloat(m_frameSize.width());
        const GLfloat v0 = GLfloat(source.y()) / GLfloat(m_frameSize.height());
        const GLfloat v1 = GLfloat(source.y() + source.height()) / GLfloat(m_frameSize.height());
        const GLfloat quad[] = {-1, -1, u0, v1, 1, -1, u1, v1, -1, 1, u0, v0, 1, 1, u1, v0};
        const qreal ratio = devicePixelRatioF();
        glViewport(GLint(target.x() * ratio),
                   GLint((height() - target.y() - target.height()) * ratio),
                   GLsizei(target.width() * ratio), GLsizei(target.height() * ratio));
        glUseProgram(m_program);
        for (int t = 0; t < 3; ++t) {
            glActiveTexture(GL_TEXTURE0 + t);
            glBindTexture(GL_TEXTURE_2D, m_textures[t]);
            const char name[] = {'p', 'l', 'a', 'n', 'e', char('0' + t), 0};
            glUniform1i(glGetUniformLocation(m_program, name), t);
        }
        glUniform1i(glGetUniformLocation(m_program, "kind"), m_kind);
        // GL wants the matrix by columns.
        GLfloat columns[9];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                columns[c * 3 + r] = m_matrix[r * 3 + c];
        glUniformMatrix3fv(glGetUniformLocation(m_program, "yuvToRgb"), 1, GL_FALSE, columns);
        glUniform3fv(glGetUniformLocation(m_program, "yuvOffset"), 1, m_offset);
        glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), quad);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(GLfloat), quad + 2);
        glEnableVertexAttribArray(0);
        glEnableVertexAttribArray(1);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        glDisableVertexAttribArray(0);
        glDisableVertexAttribArray(1);
        glUseProgram(0);
    }

    CVideoWindow* m_window;
    GLuint m_program = 0;
    GLuint m_textures[3] = {0, 0, 0};
    QMetaObject::Connection m_contextGone;
    // The buffer whose planes the textures hold (compared, never dereferenced).
    const GstBuffer* m_uploaded = nullptr;
    int m_kind = 0;
    QSize m_frameSize;
    float m_matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float m_offset[3] = {0, 0, 0};
    CVideoFrameConverter m_converter;
    QImage m_rgb;
};

}  // namespace

#if VELOTRAX_HAVE_XCB
// Whether the X server can give a client hardware rendering: DRI3 or DRI2
// for the Mesa drivers, NV-GLX for NVIDIA's own. A server with none of them
// (Xvfb, most remote displays) offers a software rasteriser at best, which
// is found out here without loading any GL driver.
bool XServerRendersInHardware() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return true;  // unknown: the GL probe decides
    for (const char* name : {"DRI3", "DRI2", "NV-GLX"}) {
        xcb_query_extension_cookie_t cookie =
            xcb_query_extension(connection, uint16_t(std::strlen(name)), name);
        xcb_query_extension_reply_t* reply = xcb_query_extension_reply(connection, cookie, nullptr);
        const bool present = reply && reply->present;
        std::free(reply);
        if (present)
            return true;
    }
    return false;
}
#endif

bool CVideoWindow::OpenGLUsable() {
    static const bool usable = [] {
        // VELOTRAX_VIDEO_GL=0 turns the shader path off, =1 takes it wherever a
        // context can be made, software rasterisers included (for tests).
        const char* env = std::getenv("VELOTRAX_VIDEO_GL");
        if (env && std::strcmp(env, "0") == 0)
            return false;
        const bool forced = env && std::strcmp(env, "1") == 0;
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
            return false;
#if VELOTRAX_HAVE_XCB
        if (!forced && platform == QLatin1String("xcb") && !XServerRendersInHardware())
            return false;
#endif
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.create();
        if (!context.makeCurrent(&surface))
            return false;
        // A software rasteriser costs more than converting on the CPU.
        const auto* renderer =
            reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
        const std::string name = renderer ? renderer : "";
        context.doneCurrent();
        return forced || (name.find("llvmpipe") == std::string::npos &&
                          name.find("softpipe") == std::string::npos &&
                          name.find("swrast") == std::string::npos);
    }();
    return usable;
}

CVideoWindow::CVideoWindow(std::shared_ptr<CVideoFrameStore> store, QWidget* parent)
    : QWidget(parent), m_store(std::move(store)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::ClickFocus);
    setWindowTitle(QStringLiteral("ActiveMovie Window"));
    m_openGL = OpenGLUsable();
    if (m_openGL)
        m_surface = new CGLSurface(this);
    else
        m_surface = new CRasterSurface(this);
    m_surface->setGeometry(rect());
    m_store->SetListener(this);
}

CVideoWindow::~CVideoWindow() {
    m_store->SetListener(nullptr);
}

void CVideoWindow::SetPlacement(const QRect& source, const QRect& destination) {
    if (source == m_source && destination == m_destination)
        return;
    m_source = source;
    m_destination = destination;
    m_surface->update();
}

QRect CVideoWindow::DefaultDestination(const QSize& surface) const {
    if (!m_fullScreen || m_savedGeometry.isEmpty())
        return QRect(QPoint(0, 0), surface);
    // Full screen keeps the shape the picture had in its owner (placed there
    // by scaling mode and aspect correction), centred with black around it.
    const QSize fitted = m_savedGeometry.size().scaled(surface, Qt::KeepAspectRatio);
    return QRect(
        QPoint((surface.width() - fitted.width()) / 2, (surface.height() - fitted.height()) / 2),
        fitted);
}

bool CVideoWindow::Place(const QSize& frame, const QSize& surface, QRect& source,
                         QRect& destination) const {
    const QRect whole(QPoint(0, 0), frame);
    source = m_source.isEmpty() ? whole : m_source.intersected(whole);
    destination = m_destination.isEmpty() ? DefaultDestination(surface) : m_destination;
    const QRect shown = destination.intersected(QRect(QPoint(0, 0), surface));
    if (source.isEmpty() || shown.isEmpty())
        return false;
    if (shown != destination) {
        // The source loses the share of the destination outside the window.
        auto cut = [](int from, int length, int destFrom, int destLength, int shownFrom,
                      int shownLength, int& outFrom, int& outLength) {
            const double scale = double(length) / double(destLength);
            const int first = from + int(double(shownFrom - destFrom) * scale);
            const int last =
                from + int(std::ceil(double(shownFrom + shownLength - destFrom) * scale));
            outFrom = first;
            outLength = std::max(1, std::min(last, from + length) - first);
        };
        int x, w, y, h;
        cut(source.x(), source.width(), destination.x(), destination.width(), shown.x(),
            shown.width(), x, w);
        cut(source.y(), source.height(), destination.y(), destination.height(), shown.y(),
            shown.height(), y, h);
        source = QRect(x, y, w, h);
        destination = shown;
    }
    return true;
}

void CVideoWindow::resizeEvent(QResizeEvent* event) {
    m_surface->setGeometry(QRect(QPoint(0, 0), event->size()));
    QWidget::resizeEvent(event);
}

void CVideoWindow::SetFullScreen(bool on) {
    if (on == m_fullScreen)
        return;
    if (on) {
        m_savedParent = parentWidget();
        m_savedGeometry = geometry();
        m_savedVisible = isVisible();
        QScreen* screen = m_savedParent ? m_savedParent->screen() : this->screen();
        m_fullScreen = true;
        setParent(nullptr, Qt::Window | Qt::FramelessWindowHint);
        if (screen)
            setGeometry(screen->geometry());
        showFullScreen();
        raise();
        activateWindow();
    } else {
        m_fullScreen = false;
        setParent(m_savedParent.data(), m_savedParent ? Qt::Widget : Qt::Window);
        setGeometry(m_savedGeometry);
        setVisible(m_savedVisible);
    }
}

bool CVideoWindow::event(QEvent* event) {
    const int type = int(event->type());
    if (type == CVideoFrameStore::FrameEventType()) {
        m_store->FrameEventTaken();
        m_surface->update();
        return true;
    }
    if (event->type() == QEvent::WindowDeactivate && m_fullScreen) {
        // Another window took over: the renderer leaves full screen.
        SetFullScreen(false);
        if (m_fullScreenLost)
            m_fullScreenLost();
    }
    if (ForwardInput(event))
        return true;
    return QWidget::event(event);
}

bool CVideoWindow::ForwardInput(QEvent* event) {
    QObject* drain = m_drain.data();
    if (!drain)
        return false;
    QWidget* target = qobject_cast<QWidget*>(drain);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            QPointF local = target ? target->mapFromGlobal(e->globalPosition()) : e->position();
            QMouseEvent copy(e->type(), local, e->scenePosition(), e->globalPosition(), e->button(),
                             e->buttons(), e->modifiers());
            QCoreApplication::sendEvent(drain, &copy);
            return true;
        }
        case QEvent::Wheel: {
            auto* e = static_cast<QWheelEvent*>(event);
            QPointF local = target ? target->mapFromGlobal(e->globalPosition()) : e->position();
            QWheelEvent copy(local, e->globalPosition(), e->pixelDelta(), e->angleDelta(),
                             e->buttons(), e->modifiers(), e->phase(), e->inverted());
            QCoreApplication::sendEvent(drain, &copy);
            return true;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* e = static_cast<QKeyEvent*>(event);
            QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->text(), e->isAutoRepeat(),
                           ushort(e->count()));
            QCoreApplication::sendEvent(drain, &copy);
            return true;
        }
        default:
            return false;
    }
}
