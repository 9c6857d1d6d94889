# Writes the Java sources of a program near the linker's limits into <dir>:
# Main, an abstract Base and `count` classes C0 .. C<count-1> that extend it,
# each with fields, a constructor, a virtual method with a loop and a switch,
# a static method that calls it, and (the first 100) a static field and a
# string of their own. Files are replaced only when their text changes, so a
# new configure does not recompile the program.
function(morvane_generate_big_program dir count)
  set(files)
  macro(put name text)
    file(WRITE ${dir}.tmp/${name} "${text}")
    file(COPY_FILE ${dir}.tmp/${name} ${dir}/${name} ONLY_IF_DIFFERENT)
    list(APPEND files ${dir}/${name})
  endmacro()
  file(MAKE_DIRECTORY ${dir} ${dir}.tmp)

  put(Base.java "public abstract class Base {
    protected int a;
    protected int b;

    public abstract int value(int k);

    public int twice(int k) {
        return value(k) + value(k + 1);
    }
}
")

  math(EXPR last "${count} - 1")
  set(calls "")
  foreach(i RANGE ${last})
    set(statics "")
    set(text "")
    if(i LESS 100)
      set(statics "    static int hits;\n")
      set(text "        hits++;\n        System.out.println(\"C${i}\");\n")
    endif()
    put(C${i}.java "public class C${i} extends Base {
${statics}    private int c;

    public C${i}(int seed) {
        a = seed;
        b = seed * 3 + ${i};
        c = seed - b;
    }

    public int value(int k) {
        int s = a;
        for (int j = 0; j < k; j++) {
            s += b * j - c;
            if (s > 1000) {
                s -= 999;
            }
        }
        switch (k) {
        case 0:
            return s;
        case 1:
            return s + a;
        case 2:
            return s - b;
        case 3:
            return s * c;
        default:
            return s / (k - 3);
        }
    }

    public int mix(int k) {
        return value(k) * a - twice(k + b) + c;
    }

    public static int run(int x) {
        C${i} c = new C${i}(x);
        int[] values = new int[4];
        for (int k = 0; k < values.length; k++) {
            values[k] = c.twice(k) + c.mix(k);
        }
${text}        return values[0] + values[3];
    }
}
")
    string(APPEND calls "        total += C${i}.run(${i});\n")
  endforeach()

  put(Main.java "public class Main {
    public static void main() {
        int total = 0;
${calls}        System.out.println(total);
    }
}
")
  set(MORVANE_BIG_PROGRAM_SOURCES ${files} PARENT_SCOPE)
endfunction()
