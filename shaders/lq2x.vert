#version 300 es
// The vertex stage of every lq2x pass: one triangle over the whole viewport,
// from gl_VertexID alone (draw 3 vertices, no attributes). Desktop OpenGL 3.3
// takes it with this first line replaced by "#version 330 core".
void main()
{
    gl_Position = vec4(float((gl_VertexID & 1) << 2) - 1.0, float((gl_VertexID & 2) << 1) - 1.0, 0.0, 1.0);
}
