# Homebrew formula: builds the release's source archive
# (blockfall-<version>.tar.gz, made by `git archive --prefix=blockfall-<version>/`)
# with CMake and Ninja against the ncurses that macOS ships.
#
# The url and sha256 are those of the published archive: fill.cmake beside
# this file writes them in for a release (its line in SHA256SUMS), e.g.
#   cmake -DARCHIVE=dist/blockfall-0.1.0.tar.gz -DURL=https://.../blockfall-0.1.0.tar.gz \
#         -DOUT=dist/blockfall.rb -P packaging/homebrew/fill.cmake
class Blockfall < Formula
  desc "Falling-block puzzle for the text console"
  homepage "https://blockfall.example.org"
  url "https://blockfall.example.org/releases/blockfall-0.1.0.tar.gz"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"
  license "MIT"

  depends_on "cmake" => :build
  depends_on "ninja" => :build
  uses_from_macos "ncurses"

  def install
    system "cmake", "-S", ".", "-B", "build", "-G", "Ninja", "-DBUILD_TESTING=OFF",
           *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
  end

  test do
    assert_equal "blockfall #{version}\n", shell_output("#{bin}/blockfall --version")
    # Without a terminal it refuses with its own message and status 1.
    assert_match "needs a terminal", shell_output("#{bin}/blockfall </dev/null 2>&1", 1)
  end
end
