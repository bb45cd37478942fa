#pragma once

#include <QImage>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>
#include <QRectF>
#include <QSize>

#include <array>
#include <cstdint>
#include <memory>

namespace vexilo {

// Draws the frame viewer's picture and overlay layer as textured quads. Each image lives in a
// texture that is uploaded again only when the image changes (its cache key or size), so a
// repaint that only moves, scales or highlights costs one quad per image instead of another
// pass over a 4K image through the painter. Needs the widget's context current; everything it
// holds dies with `release()`, which the owner calls before that context goes away.
class ImageQuadRenderer {
public:
    enum class Slot : std::uint8_t { Picture = 0, OverlayLayer = 1 };
    static constexpr std::size_t kSlotCount = 2;

    ImageQuadRenderer();
    ~ImageQuadRenderer();
    ImageQuadRenderer(const ImageQuadRenderer&) = delete;
    ImageQuadRenderer& operator=(const ImageQuadRenderer&) = delete;

    // Draws `image` (RGBA8888, or ARGB32_Premultiplied for the overlay layer) onto `target`, a
    // rectangle in device pixels of the current viewport, from its top-left corner; sampled
    // bilinearly when `smooth`, else by the nearest texel. A smooth image drawn smaller than it
    // is reads from mipmaps where the context has them for any texture size. The picture is
    // opaque and goes down first: it replaces what lies under it, the overlay layer blends over
    // it. False, having drawn nothing, when
    // this context cannot hold the image (format, size beyond the texture limit, no shaders):
    // the caller then paints it another way.
    bool draw(Slot slot, const QImage& image, const QRectF& target, bool smooth);

    // Forgets every GL object; the context they were made in must be current.
    void release();

private:
    struct Texture {
        GLuint id = 0;
        QSize size;
        qint64 cacheKey = 0;
        // Whether the levels below the image were made from its current contents.
        bool mipmapped = false;
    };

    bool ensureProgram();
    void ensureUploaded(Texture& texture, const QImage& image);
    void setFilters(Texture& texture, const QSize& imageSize, const QRectF& target, bool smooth);
    void drawQuad(const QRectF& target, bool swapRedBlue, bool blended, bool premultiplied);

    QOpenGLFunctions* gl_ = nullptr;
    // Indexed by whether the image's red and blue lie swapped in memory.
    std::array<std::unique_ptr<QOpenGLShaderProgram>, 2> programs_;
    QOpenGLVertexArrayObject vertexArray_;
    QOpenGLBuffer vertices_{QOpenGLBuffer::VertexBuffer};
    bool programFailed_ = false;
    GLint maxTextureSize_ = 0;
    bool canMipmap_ = false;
    std::array<Texture, kSlotCount> textures_{};
};

}  // namespace vexilo
