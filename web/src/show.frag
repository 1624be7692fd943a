#version 300 es
// The page's last step: the scaled frame, an integer texture, on the canvas,
// each texel as it is (8 bits a channel to 0..1, alpha straight, as the
// canvas is made without premultiplied alpha). The texture's row 0 is the
// picture's top, which the canvas draws at the top of its buffer's last row.
precision highp float;
precision highp int;
precision highp usampler2D;

uniform usampler2D u_result;

out vec4 o_colour;

void main()
{
    ivec2 size = textureSize(u_result, 0);
    ivec2 at = ivec2(gl_FragCoord.xy);
    o_colour = vec4(texelFetch(u_result, ivec2(at.x, size.y - 1 - at.y), 0)) / 255.0;
}
